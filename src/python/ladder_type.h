// The `Ladder` class: the caller's own ordered levels, moved and folded
// onto with the caller's own verbs.
#pragma once

#include <Python.h>

#include "core/ladder.h"

namespace tarnwick::py {

// The class object, created on first use. Borrowed; null on failure.
PyObject* ladder_type();

// For the policy, which folds onto a Ladder instance's levels: its core
// ladder, and the str of rung `rung` (borrowed, valid while `ladder` is).
const Ladder& core_ladder(PyObject* ladder);
PyObject* ladder_level_str(PyObject* ladder, std::size_t rung);

}  // namespace tarnwick::py
