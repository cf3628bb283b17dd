#include "python/errors.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/quote.h"
#include "python/classes.h"

namespace tarnwick::py {

PyObject* directive_error() {
  static PyObject* type = nullptr;
  return create_once(type, [] {
    return PyErr_NewExceptionWithDoc("_tarnwick.DirectiveError",
                                     "A directive failed to parse, or a `@file` failed to load.",
                                     PyExc_ValueError, nullptr);
  });
}

PyObject* raise_directive_error(std::string_view message) {
  PyObject* type = directive_error();
  if (type == nullptr) return nullptr;
  Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

bool check_action(std::string_view token, const Call::TextSet& allowed) {
  if (!allowed.given || allowed.contains(token)) return true;
  raise_directive_error("unknown action " + quoted(token) + "; allowed: " +
                        quoted_list(allowed.members.span()));
  return false;
}

}  // namespace tarnwick::py
