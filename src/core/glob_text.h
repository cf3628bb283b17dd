// The matchers that read the pattern text itself, without compiling it:
// the Plain form (brace-free, class-free patterns with short runs between
// stars) and the short path (short patterns against short texts, on the
// stack).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/glob_shape.h"

namespace tarnwick {

// The longest run between two stars that a plain pattern (see
// Pattern::Form) holds; longer ones are compiled into positions.
inline constexpr std::uint32_t kPlainRun = 64;

// Reads a pattern as its two ends around the stars, in one pass; false
// when it is not plain: it holds a `[`, a brace group (an unescaped `{` and
// an unescaped `}` after it), or a run between two stars longer than
// kPlainRun.
bool plain_shape(std::string_view text, PlainShape& shape);

// Plain patterns: the ends are anchored, and each run between stars is taken
// at its leftmost place, which leaves the most text for the rest. O(n + m).
bool match_plain(std::string_view pattern, const PlainShape& shape, std::string_view text);

// Short brace-free patterns against short texts skip compiling: read into
// tokens on the stack, the tokens after the last `*` checked against the end
// of the text, and the rest matched with one backtrack point (the latest
// `*`), at most pattern x text steps, which short_enough keeps under a few
// thousand.
inline constexpr std::size_t kShortPattern = 64;
inline constexpr std::size_t kShortWork = 4096;
bool short_enough(std::string_view pattern, std::string_view text);
bool match_short(std::string_view brace_free, std::string_view text);

// A short pattern (at most kShortPattern bytes) with at most a few brace
// alternatives, each built on the stack and matched as a short pattern;
// nothing when there are more.
std::optional<bool> match_short_braces(std::string_view pattern, std::string_view text);

}  // namespace tarnwick
