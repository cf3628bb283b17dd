// The `Ladder` class: the caller's own ordered levels, moved and folded
// onto with the caller's own verbs.
#pragma once

#include <Python.h>

namespace tarnwick::py {

// The class object, created on first use. Borrowed; null on failure.
PyObject* ladder_type();

}  // namespace tarnwick::py
