// Whether a glob matches one text only, and which: what lets a directive
// such as `suppress:E501@src/a.py` be found by lookup instead of by testing.
//
//   literal_text("src/a.py")     == "src/a.py"
//   literal_text("a.p\\[y]")     == "a.p[y]"
//   literal_text("{src}/a.py")   == "src/a.py"   (one brace alternative)
//   literal_text("src/*.py")     == nothing
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// The only text `pattern` matches, or nothing when it may match others, or
// when telling would take more than one reading (a `[`, even an unclosed
// one, or several brace alternatives, even equal ones). Linear in the size
// of the pattern.
std::optional<std::string> literal_text(std::string_view pattern);

}  // namespace tarnwick
