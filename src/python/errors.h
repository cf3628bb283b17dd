// DirectiveError, the one exception the module raises for core errors, and
// the action check that `parse` and `expand` apply.
#pragma once

#include <Python.h>

#include <new>
#include <stdexcept>
#include <string_view>

#include "python/args.h"

namespace tarnwick::py {

// The exception class, created on first use and shared by every module
// object of the process. Borrowed; null with an exception set on failure.
PyObject* directive_error();

// Raises DirectiveError with `message` as its single argument. Returns null.
PyObject* raise_directive_error(std::string_view message);

// Accepts `token` when `allowed` is absent or holds it; otherwise raises
// DirectiveError ("unknown action ...; allowed: [...]") and returns false.
bool check_action(std::string_view token, const TextSet* allowed);

// Runs `body`, turning C++ exceptions (allocation failures, in practice)
// into Python exceptions so that none crosses into the interpreter.
template <class Body>
PyObject* guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
    return nullptr;
  }
}

}  // namespace tarnwick::py
