// The directive record, `ACTION:[<KIND>]NAME[@PATH][=NOTE]` parsed, and the
// one rule that decides whether a directive applies to a target. The action
// is the raw token, as written (trimmed): any token is an action.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/compact.h"
#include "core/glob.h"

namespace tarnwick {

// What a directive is tested against. Views only: the caller owns the texts.
struct MatchTarget {
  std::span<const std::string_view> names;
  std::optional<std::string_view> qualifier;
  std::span<const std::string_view> scopes;
};

bool any_matches(const Pattern& pattern, std::span<const std::string_view> texts);

// Millions of directives may come from one rules file, so a directive is
// kept small (80 bytes on 64-bit systems): the action and the NAME glob
// inline, KIND, PATH and NOTE in one more allocation only when one of them
// is given.
class Directive {
 public:
  Directive(std::string_view action, std::optional<std::string_view> kind, Pattern name,
            std::optional<Pattern> path, std::optional<std::string_view> note)
      : action_(action), name_(std::move(name)) {
    if (kind || path || note) {
      extras_ = std::make_unique<Extras>();
      if (kind) extras_->kind.assign(*kind);
      if (note) extras_->note.assign(*note);
      extras_->path = std::move(path);
    }
  }

  std::string_view action() const { return action_; }
  // Unescaped; absent means any kind.
  std::optional<std::string_view> kind() const { return optional_text(&Extras::kind); }
  const Pattern& name() const { return name_; }
  const Pattern* path() const { return extras_ && extras_->path ? &*extras_->path : nullptr; }
  // Verbatim.
  std::optional<std::string_view> note() const { return optional_text(&Extras::note); }

  // KIND (if set) must equal the qualifier byte for byte; NAME must match
  // one of the names; PATH (if set) must match one of the scopes.
  bool matches(const MatchTarget& target) const {
    if (extras_ && extras_->kind.present() &&
        (!target.qualifier || *target.qualifier != extras_->kind.view())) {
      return false;
    }
    if (!any_matches(name_, target.names)) return false;
    return !(extras_ && extras_->path) || any_matches(*extras_->path, target.scopes);
  }

 private:
  struct Extras {
    CompactText kind;
    CompactText note;
    std::optional<Pattern> path;
  };
  std::optional<std::string_view> optional_text(CompactText Extras::*field) const {
    if (!extras_ || !((*extras_).*field).present()) return std::nullopt;
    return ((*extras_).*field).view();
  }

  CompactText action_;
  Pattern name_;
  std::unique_ptr<Extras> extras_;
};

// The canonical text form: action, ":", "<kind>" when present, NAME, "@PATH"
// when present, "=NOTE" when present; nothing escaped.
void append_canonical(std::string& out, const Directive& d);
std::string canonical_text(const Directive& d);

}  // namespace tarnwick
