#include "core/literal.h"

#include "core/brace.h"

namespace tarnwick {
namespace {

// The bytes a brace-free piece matches, read token by token as the glob
// compiler reads them: `\x` is the byte x, a final `\` is itself.
std::optional<std::string> literal_piece(std::string_view piece) {
  std::string out;
  out.reserve(piece.size());
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    if (c == '*' || c == '?' || c == '[') return std::nullopt;
    if (c == '\\' && i + 1 < piece.size()) ++i;
    out += piece[i];
  }
  return out;
}

}  // namespace

std::optional<std::string> literal_text(std::string_view pattern) {
  const BraceLayout layout = find_brace_groups(pattern);
  if (layout.over_cap || layout.alternatives != 1) return std::nullopt;
  if (!layout.expands()) return literal_piece(pattern);
  std::optional<std::string> out;
  for_each_alternative(pattern, layout, [&](std::string_view alt) {
    out = literal_piece(alt);
    return false;
  });
  return out;
}

}  // namespace tarnwick
