// The private class `_JsonScanner`: the core's JsonScanner for the SARIF
// reader of the package (tarnwick/sarif/stream.py), not part of `__all__`.
#pragma once

#include <Python.h>

namespace tarnwick::py {

// The class object, created on first use. Borrowed; null on failure.
PyObject* json_scanner_type();

}  // namespace tarnwick::py
