// Brace structure: finding the groups and segments of a glob, and the
// expanded alternatives for callers that want them as strings.
#include "core/brace.h"


#include "core/glob.h"

namespace tarnwick {

// One pass: outside a group an unescaped `{` opens one; inside, unescaped
// commas end segments and the first unescaped `}` closes it. A group left
// open at the end never was one.
BraceLayout find_brace_groups(std::string_view text) {
  constexpr std::size_t npos = std::string_view::npos;
  BraceLayout layout;
  if (text.find('{') == npos) return layout;
  // Enough for most directives at once, so that neither list grows step by step.
  layout.groups.reserve(4);
  layout.segments.reserve(16);
  std::size_t open = npos, start = 0;
  for (std::size_t i = 0; i < text.size() && !layout.over_cap; ++i) {
    const char c = text[i];
    if (c == '\\') {
      ++i;
    } else if (open == npos) {
      if (c == '{') open = start = i + 1;
    } else if (c == ',' || c == '}') {
      layout.segments.push_back(text.substr(start, i - start));
      start = i + 1;
      if (c == ',') continue;
      const std::size_t first = layout.groups.empty()
                                    ? 0
                                    : layout.groups.back().first_segment + layout.groups.back().segment_count;
      const std::size_t count = layout.segments.size() - first;
      layout.groups.push_back({open - 1, i, first, count});
      layout.alternatives *= count;
      layout.over_cap = layout.alternatives > BRACE_EXPANSION_CAP;
      open = npos;
    }
  }
  if (open != npos && !layout.over_cap) {
    const std::size_t kept = layout.groups.empty()
                                 ? 0
                                 : layout.groups.back().first_segment + layout.groups.back().segment_count;
    layout.segments.resize(kept);
  }
  return layout;
}

std::optional<std::vector<std::string>> expand_braces_capped(std::string_view text) {
  const BraceLayout layout = find_brace_groups(text);
  if (layout.over_cap) return std::nullopt;
  std::vector<std::string> out;
  if (!layout.expands()) {
    out.emplace_back(text);
    return out;
  }
  for_each_alternative(text, layout, [&](std::string_view alt) {
    out.emplace_back(alt);
    return true;
  });
  return out;
}

}  // namespace tarnwick
