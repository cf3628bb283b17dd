// Brace structure: finding the groups and segments of a glob, and the
// expanded alternatives for callers that want them as strings.
#include "core/brace.h"

#include <algorithm>

#include "core/glob.h"
#include "core/scan.h"

namespace tarnwick {

BraceLayout find_brace_groups(std::string_view text) {
  constexpr std::size_t npos = std::string_view::npos;
  BraceLayout layout;
  if (text.find('{') == npos) return layout;
  // Room for every `{` as a group and every `,` as a segment boundary, so
  // that neither list grows one step at a time.
  const auto opens = static_cast<std::size_t>(std::count(text.begin(), text.end(), '{'));
  layout.groups.reserve(opens);
  layout.segments.reserve(opens + static_cast<std::size_t>(std::count(text.begin(), text.end(), ',')));
  std::size_t pos = 0;
  while (!layout.over_cap) {
    const std::size_t open = find_unescaped(text, '{', pos);
    if (open == npos) break;
    const std::size_t close = find_unescaped(text, '}', open + 1);
    if (close == npos) break;
    const std::string_view body = text.substr(0, close);
    const std::size_t first = layout.segments.size();
    std::size_t start = open + 1;
    for (std::size_t comma; (comma = find_unescaped(body, ',', start)) != npos; start = comma + 1) {
      layout.segments.push_back(text.substr(start, comma - start));
    }
    layout.segments.push_back(text.substr(start, close - start));
    const std::size_t count = layout.segments.size() - first;
    layout.groups.push_back({open, close, first, count});
    layout.alternatives *= count;
    layout.over_cap = layout.alternatives > BRACE_EXPANSION_CAP;
    pos = close + 1;
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
