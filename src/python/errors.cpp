#include "python/errors.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/quote.h"
#include "python/classes.h"
#include "python/restore.h"

namespace tarnwick::py {

namespace {

// (restorer, args, state): the class itself cannot be found by pickle
// under its name, so the module rebuilds the error.
PyObject* error_reduce(PyObject* self, PyObject*) {
  Ref args(PyObject_GetAttrString(self, "args"));
  if (!args) return nullptr;
  Ref reduced(reduce_with("_directive_error", Py_NewRef(args.get())));
  Ref state(reduced ? PyObject_GetAttrString(self, "__dict__") : nullptr);
  if (!state) return nullptr;
  if (!PyDict_Check(state.get()) || PyDict_Size(state.get()) == 0) return reduced.release();
  return PyTuple_Pack(3, PyTuple_GetItem(reduced.get(), 0), args.get(), state.get());
}

PyMethodDef kErrorReduce = {"__reduce__", error_reduce, METH_NOARGS, nullptr};

PyObject* make_directive_error() {
  Ref type(PyErr_NewExceptionWithDoc("_tarnwick.DirectiveError",
                                     "A directive failed to parse, or a `@file` failed to load.",
                                     PyExc_ValueError, nullptr));
  Ref reduce(type ? PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(type.get()), &kErrorReduce)
                  : nullptr);
  if (!reduce || PyObject_SetAttrString(type.get(), "__reduce__", reduce.get()) < 0) return nullptr;
  return type.release();
}

}  // namespace

PyObject* directive_error() {
  static PyObject* type = nullptr;
  return create_once(type, make_directive_error);
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
