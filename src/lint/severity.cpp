#include "lint/severity.h"

#include "core/quote.h"

namespace tarnwick::lint {

Result<Severity, std::string> severity_from_text(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lowered == "error") return Severity::Error;
  if (lowered == "warning") return Severity::Warning;
  if (lowered == "info") return Severity::Info;
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
