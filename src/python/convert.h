// Results back to Python: new str, list and tuple objects.
#pragma once

#include <Python.h>

#include <span>
#include <string>
#include <string_view>

#include "python/ref.h"

namespace tarnwick::py {

inline PyObject* new_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

template <class Texts>
PyObject* new_str_list(const Texts& texts) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(std::size(texts))));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& text : texts) {
    PyObject* item = new_str(text);
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), i++, item);
  }
  return list.release();
}

// An optional text that is present when `present` is true: None otherwise.
inline PyObject* new_str_or_none(const std::string* text) {
  if (text == nullptr) Py_RETURN_NONE;
  return new_str(*text);
}

}  // namespace tarnwick::py
