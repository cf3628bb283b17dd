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

// A new list of `n` items, item i made by `make(i)` (a new reference or null).
template <class Make>
PyObject* new_list(std::size_t n, Make make) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* item = make(i);
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

template <class Texts>
PyObject* new_str_list(const Texts& texts) {
  return new_list(std::size(texts), [&](std::size_t i) { return new_str(texts[i]); });
}

// An optional text that is present when `present` is true: None otherwise.
inline PyObject* new_str_or_none(const std::string* text) {
  if (text == nullptr) Py_RETURN_NONE;
  return new_str(*text);
}

}  // namespace tarnwick::py
