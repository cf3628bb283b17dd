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

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::json {

// What the walk keeps of the arrays and objects open at once, reused from
// one call to the next by a caller that makes many.
struct CanonicalScratch {
  struct Open {
    bool object;
    std::size_t first_key;  // in `keys`
  };
  std::vector<Open> open;
  std::vector<std::string_view> keys;  // of the objects open, each with its quotes
};

// Appends the compact form of `text` (one value, checked as JSON before) to
// `out`; false when it has none (see above), with `out` then unspecified.
// Never reads outside `text`, whatever it holds.
bool append_canonical(std::string_view text, std::string& out, CanonicalScratch& scratch);
inline bool append_canonical(std::string_view text, std::string& out) {
  CanonicalScratch scratch;
  return append_canonical(text, out, scratch);
}

}  // namespace tarnwick::json
