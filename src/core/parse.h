// The directive parser: one text `ACTION:[<KIND>]NAME[@PATH][=NOTE]` to one
// record, or a ParseError with a fixed message.
//
//   parse_as<std::string>("deny:<fn>foo*@src/*=legacy API")
//     -> action "deny", kind "fn", name foo*, path src/*, note "legacy API"
//   parse_as<std::string>("allow:")  -> ParseError EmptyName
//
// A backslash escapes the next character for every delimiter search; only
// the kind filter is unescaped, NAME and PATH keep their escapes for the glob.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/directive.h"
#include "core/result.h"

namespace tarnwick {

struct ParseError {
  enum class Kind { NoColon, EqualsBeforeColon, EmptyAction, UnknownAction, EmptyKind, EmptyName };
  Kind kind;
  std::string token;  // UnknownAction only: the trimmed action token

  std::string message() const;
};

// The pieces of a directive text, as views into it, before anything is
// compiled or converted.
struct DirectiveParts {
  std::string_view action;
  std::optional<std::string> kind;
  std::string_view name;
  std::optional<std::string_view> path;
  std::optional<std::string_view> note;
};

Result<DirectiveParts, ParseError> split_directive(std::string_view spec);

// Backslash escapes removed: `\x` gives `x` for any character x; a trailing
// backslash stays.
std::string unescape(std::string_view text);

template <class A>
Result<BasicDirective<A>, ParseError> parse_as(std::string_view spec) {
  auto parts = split_directive(spec);
  if (!parts) return Err{parts.error()};
  DirectiveParts& p = parts.value();
  std::optional<A> action = ActionVocabulary<A>::from_token(p.action);
  if (!action) return Err{ParseError{ParseError::Kind::UnknownAction, std::string(p.action)}};
  BasicDirective<A> d{std::move(*action), std::move(p.kind), Pattern::compile(p.name), std::nullopt,
                      std::nullopt};
  if (p.path) d.path = Pattern::compile(*p.path);
  if (p.note) d.note = std::string(*p.note);
  return d;
}

}  // namespace tarnwick
