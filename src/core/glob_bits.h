// The bit-parallel matchers of a compiled position program (see
// glob_program.h): brace patterns by stepping the set of live positions over
// the text, brace-free ones by anchoring the text before the first `*` and
// after the last and finding each run between stars at its leftmost place.
// O(n * m / 64) word steps, no recursion.
#pragma once

#include <string_view>

#include "core/glob_program.h"

namespace tarnwick {

// The matcher the program's shape calls for: run search without groups,
// one-word or many-word stepping with them.
bool match_program(const Program& prog, std::string_view text);

// The many-word stepping of a program with groups, whatever its size.
bool step_positions(const Program& prog, std::string_view text);

}  // namespace tarnwick
