#include "lint/severity.h"

#include "core/quote.h"

namespace tarnwick::lint {

namespace {

// Whether `text` equals the lower-case `name` but for ASCII case.
bool equals_ignoring_case(std::string_view text, std::string_view name) {
  if (text.size() != name.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != name[i]) return false;
  }
  return true;
}

}  // namespace

Result<Severity, std::string> severity_from_text(std::string_view text) {
  // Known names are found by length, without a copy; only the error
  // message needs one.
  const Severity candidate = text.size() == 4   ? Severity::Info
                             : text.size() == 7 ? Severity::Warning
                                                : Severity::Error;
  if (equals_ignoring_case(text, severity_text(candidate))) return candidate;
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return Err{"unknown severity " + quoted(lowered) +
             "; expected \"error\", \"warning\", or \"info\""};
}

std::string_view severity_text(Severity severity) {
  switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Info: return "info";
  }
  return "error";
}

}  // namespace tarnwick::lint
