#include "core/directive.h"

namespace tarnwick {

bool any_matches(const Pattern& pattern, std::span<const std::string_view> texts) {
  for (std::string_view text : texts) {
    if (pattern.matches(text)) return true;
  }
  return false;
}

void append_canonical(std::string& out, const Directive& d) {
  out += d.action();
  out += ':';
  if (const auto kind = d.kind()) {
    out += '<';
    out += *kind;
    out += '>';
  }
  out += d.name().source();
  if (const Pattern* path = d.path()) {
    out += '@';
    out += path->source();
  }
  if (const auto note = d.note()) {
    out += '=';
    out += *note;
  }
}

std::string canonical_text(const Directive& d) {
  std::string out;
  append_canonical(out, d);
  return out;
}

}  // namespace tarnwick
