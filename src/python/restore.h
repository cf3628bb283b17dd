// Pickling: an object's `__reduce__` names a module function that rebuilds
// it, so that the copy is made by the module itself (pickle finds functions
// by module and name; the classes are named "builtins.<Name>" and cannot be
// found that way).
#pragma once

#include <Python.h>

namespace tarnwick::py {

// `(restorer, args)` for `__reduce__`, where restorer is the function
// `name` of the package's compiled module. Steals `args`; null on failure.
PyObject* reduce_with(const char* name, PyObject* args);

}  // namespace tarnwick::py
