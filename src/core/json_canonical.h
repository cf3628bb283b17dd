// The compact form of a JSON value, when it is the form that a round trip
// through Python's `json` (loads, then dumps with ensure_ascii=False and
// separators (",", ":")) writes: that round trip then leaves it as it is.
//
// Example: `{ "a": [1, true], "b": "x" }` gives `{"a":[1,true],"b":"x"}`;
// `{"a": 1.0}`, `{"a": "\n"}` and `{"a": 1, "a": 2}` have no such form (a
// float, an escape, a repeated key: the round trip rewrites each).
//
// Time: linear in the text, plus sorting each object's keys. Memory: the
// keys of the objects open at once. No recursion.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick::json {

// Appends the compact form of `text` (one value, checked as JSON before) to
// `out`; false when it has none (see above), with `out` then unspecified.
// Never reads outside `text`, whatever it holds.
bool append_canonical(std::string_view text, std::string& out);

}  // namespace tarnwick::json
