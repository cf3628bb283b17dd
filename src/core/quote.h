// The quoted form every message uses to show a user's text: double quotes
// around it, with backslash escapes for quotes, backslashes and NUL/tab/CR/LF,
// and \u{hex} for combining marks and invisible characters.
//
//   quoted("a\"b")            == "\"a\\\"b\""
//   quoted("\u00a0")          == "\"\\u{a0}\""
//   quoted_list({"a", "b"})   == "[\"a\", \"b\"]"
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

void append_quoted(std::string& out, std::string_view text);
std::string quoted(std::string_view text);
// Members in the given order, each quoted, between brackets.
std::string quoted_list(std::span<const std::string_view> members);

}  // namespace tarnwick
