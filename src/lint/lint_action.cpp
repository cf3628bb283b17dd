#include "lint/lint_action.h"

#include <array>

#include "core/unicode.h"

namespace tarnwick::lint {

std::optional<LintAction> lint_action_from_token(std::string_view token) {
  struct Verb {
    std::string_view text;
    LintAction action;
  };
  static constexpr std::array<Verb, 6> kVerbs{{
      {"suppress", LintAction::Suppress},
      {"deescalate", LintAction::Deescalate},
      {"escalate", LintAction::Escalate},
      {"note", LintAction::Note},
      {"set", LintAction::Set},
      {"settings", LintAction::Set},
  }};
  constexpr std::size_t kLongest = 10;

  char buf[kLongest];
  std::size_t len = 0;
  for (char c : unicode::trim(token)) {
    if (c == '-') continue;
    if (len == kLongest) return std::nullopt;
    buf[len++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view normalised(buf, len);
  for (const Verb& verb : kVerbs) {
    if (verb.text == normalised) return verb.action;
  }
  return std::nullopt;
}

}  // namespace tarnwick::lint
