// Brace structure of a glob: where its `{...}` groups are and what their
// comma-separated segments are, found left to right without recursion.
//
//   find_brace_groups("x{a,b}y{1,2}").alternatives == 4
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// One group: the first unescaped `{` and the first unescaped `}` after it
// (braces do not nest), and its segments in `BraceLayout::segments`.
struct BraceGroup {
  std::size_t open;
  std::size_t close;
  std::size_t first_segment;
  std::size_t segment_count;
};

struct BraceLayout {
  std::vector<BraceGroup> groups;
  std::vector<std::string_view> segments;
  std::size_t alternatives = 1;  // product of the segment counts
  bool over_cap = false;         // more than BRACE_EXPANSION_CAP: braces are literal
  // Whether the braces are expanded at all.
  bool expands() const { return !over_cap && !groups.empty(); }
};

// Stops looking once the product of the segment counts passes the cap.
BraceLayout find_brace_groups(std::string_view text);

// The brace odometer: `choice` holds one segment index per group. Passes the
// pieces of the alternative it chooses, in order, to `append`.
template <class Append>
void write_alternative(std::string_view text, const BraceLayout& layout, const std::size_t* choice, Append append) {
  std::size_t pos = 0;
  for (std::size_t g = 0; g < layout.groups.size(); ++g) {
    const BraceGroup& group = layout.groups[g];
    append(text.substr(pos, group.open - pos));
    append(layout.segments[group.first_segment + choice[g]]);
    pos = group.close + 1;
  }
  append(text.substr(pos));
}

// Turns the odometer to the next alternative in expansion order (the first
// group varies slowest); false, with every choice back at 0, after the last.
inline bool next_alternative(const BraceLayout& layout, std::size_t* choice) {
  std::size_t g = layout.groups.size();
  while (g > 0 && ++choice[g - 1] == layout.groups[g - 1].segment_count) choice[--g] = 0;
  return g > 0;
}

// Calls `emit(alternative)` for each alternative of an expanding `layout` in
// expansion order until it returns false.
template <class Emit>
void for_each_alternative(std::string_view text, const BraceLayout& layout, Emit emit) {
  std::vector<std::size_t> choice(layout.groups.size(), 0);
  std::string scratch;
  do {
    scratch.clear();
    write_alternative(text, layout, choice.data(), [&](std::string_view piece) { scratch.append(piece); });
    if (!emit(std::string_view(scratch))) return;
  } while (next_alternative(layout, choice.data()));
}

}  // namespace tarnwick
