// DirectiveError, the one exception the module raises for core errors, and
// the action check that `parse` and `expand` apply.
#pragma once

#include <Python.h>

#include <string_view>

#include "python/call.h"

namespace tarnwick::py {

// The exception class, created on first use and shared by every module
// object of the process. Borrowed; null with an exception set on failure.
PyObject* directive_error();

// Raises DirectiveError with `message` as its single argument. Returns null.
PyObject* raise_directive_error(std::string_view message);

// Accepts `token` when `allowed` was not given or holds it; otherwise raises
// DirectiveError ("unknown action ...; allowed: [...]") and returns false.
bool check_action(std::string_view token, const Call::TextSet& allowed);

}  // namespace tarnwick::py
