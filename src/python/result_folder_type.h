// The private `_ResultFolder` class: the fold of a run's results of the
// common shape (see lint/sarif_result.h) done without building them, for
// the SARIF reader of tarnwick.sarif.stream.
#pragma once

#include <Python.h>

namespace tarnwick::py {

// The class object, created on first use. Borrowed; null on failure.
PyObject* result_folder_type();

}  // namespace tarnwick::py
