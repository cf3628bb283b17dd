// The directive parser: one text `ACTION:[<KIND>]NAME[@PATH][=NOTE]` to one
// record, or a ParseError with a fixed message.
//
//   parse_as("deny:<fn>foo*@src/*=legacy API")
//     -> action "deny", kind "fn", name foo*, path src/*, note "legacy API"
//   parse_as("allow:")  -> ParseError EmptyName
//
// A backslash escapes the next character for every delimiter search; only
// the kind filter is unescaped, NAME and PATH keep their escapes for the glob.
#pragma once

#include <concepts>
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
  std::optional<std::string_view> kind;  // still escaped; absent for `<*>`
  std::string_view name;
  std::optional<std::string_view> path;
  std::optional<std::string_view> note;
};

Result<DirectiveParts, ParseError> split_directive(std::string_view spec);

// The record of well-formed parts: the kind unescaped, the globs compiled.
// Returned by value so that a caller can build it straight into its place.
Directive build_directive(const DirectiveParts& parts);

// Backslash escapes removed: `\x` gives `x` for any character x; a trailing
// backslash stays.
std::string unescape(std::string_view text);

Result<Directive, ParseError> parse_as(std::string_view spec);

}  // namespace tarnwick
