// The `Policy` class: directives with their origins, compiled once for the
// findings of a host tool (see lint/policy.h).
#pragma once

#include <Python.h>

namespace tarnwick::py {

// The class object, created on first use. Borrowed; null on failure.
PyObject* policy_type();

}  // namespace tarnwick::py
