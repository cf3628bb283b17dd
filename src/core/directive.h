// The directive record, `ACTION:[<KIND>]NAME[@PATH][=NOTE]` parsed, and the
// one rule that decides whether a directive applies to a target. The action
// is the raw token, as written (trimmed): any token is an action.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/glob.h"

namespace tarnwick {

// What a directive is tested against. Views only: the caller owns the texts.
struct MatchTarget {
  std::span<const std::string_view> names;
  std::optional<std::string_view> qualifier;
  std::span<const std::string_view> scopes;
};

bool any_matches(const Pattern& pattern, std::span<const std::string_view> texts);

struct Directive {
  std::string action;
  std::optional<std::string> kind;  // unescaped; absent means any kind
  Pattern name;
  std::optional<Pattern> path;
  std::optional<std::string> note;  // verbatim

  // KIND (if set) must equal the qualifier byte for byte; NAME must match
  // one of the names; PATH (if set) must match one of the scopes.
  bool matches(const MatchTarget& target) const {
    if (kind && (!target.qualifier || *target.qualifier != *kind)) return false;
    if (!any_matches(name, target.names)) return false;
    return !path || any_matches(*path, target.scopes);
  }
};

// The canonical text form: action, ":", "<kind>" when present, NAME, "@PATH"
// when present, "=NOTE" when present; nothing escaped.
void append_canonical(std::string& out, const Directive& d);
std::string canonical_text(const Directive& d);

}  // namespace tarnwick
