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

// Calls `emit(alternative)` for each alternative of an expanding `layout` in
// expansion order (the first group varies slowest) until it returns false.
template <class Emit>
void for_each_alternative(std::string_view text, const BraceLayout& layout, Emit emit) {
  const std::size_t k = layout.groups.size();
  std::vector<std::size_t> choice(k, 0);
  std::string scratch;
  for (;;) {
    scratch.clear();
    std::size_t pos = 0;
    for (std::size_t g = 0; g < k; ++g) {
      const BraceGroup& group = layout.groups[g];
      scratch.append(text.substr(pos, group.open - pos));
      scratch.append(layout.segments[group.first_segment + choice[g]]);
      pos = group.close + 1;
    }
    scratch.append(text.substr(pos));
    if (!emit(std::string_view(scratch))) return;
    std::size_t g = k;
    while (g > 0 && ++choice[g - 1] == layout.groups[g - 1].segment_count) choice[--g] = 0;
    if (g == 0) return;
  }
}

}  // namespace tarnwick
