// What the fold of a SARIF log reads of one result, taken from its bytes
// without building it, for results of the common shape.
//
// A result is "simple" when everything the fold reads of it is plain: a
// `ruleId` string, an optional integer `ruleIndex`, optional `level` (one of
// the four SARIF levels) and `kind` strings, `locations` as an array of
// objects whose `physicalLocation.artifactLocation` gives plain `uri`,
// `uriBaseId` and `index` values, no `rule`, no `suppressions`, and
// `properties` (if any) an object without tarnwick's own record. "Plain"
// means a string without escapes or an integer without fraction or exponent
// that fits in 64 bits. Of a name given twice the last counts, as JSON
// readers take it. Anything else (and any key written with escapes) makes
// the result not simple: the caller then reads it the general way.
//
// Example: {"ruleId":"R1","level":"warning","locations":[{"physicalLocation":
// {"artifactLocation":{"uri":"src/a.py"}}}]} gives rule_id "R1", level
// "warning", one location with uri "src/a.py", and `kept` the spans of the
// ruleId and locations members (not the level's).
//
// Time: linear in the bytes; memory: a few words per location and member.
// No recursion: nested values are skipped with a counter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnwick::lint {

// [start, end) in the result's bytes.
struct ByteSpan {
  std::size_t start = 0;
  std::size_t end = 0;
};

// A location's `physicalLocation.artifactLocation`: the members its scope depends on.
struct ArtifactRef {
  std::optional<std::string_view> uri;
  std::optional<std::string_view> uri_base_id;
  std::optional<std::int64_t> index;
};

struct SimpleResult {
  std::string_view rule_id;  // views into the bytes read
  std::optional<std::int64_t> rule_index;
  std::optional<std::string_view> level;
  std::optional<std::string_view> kind;
  // One per element of `locations`; empty where it has no artifactLocation.
  std::vector<std::optional<ArtifactRef>> locations;
  bool has_properties = false;
  // Every member but `level`, key to value end, in order: joined with
  // commas they are the result without its level.
  std::vector<ByteSpan> kept;
};

// Reads `text` (one JSON value) into `out`; true when the result is simple.
// Never reads outside `text`, whatever it holds.
bool read_simple_result(std::string_view text, SimpleResult& out);

}  // namespace tarnwick::lint
