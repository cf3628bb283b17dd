// Results back to Python: new str, list and tuple objects.
#pragma once

#include <Python.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "python/ref.h"

namespace tarnwick::py {

inline PyObject* new_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// A new list of `n` items, item i made by `make(i)` (a new reference or null).
// Items are appended to a list that starts empty, never set into empty
// slots: making an item may start a garbage collection, whose callbacks and
// finalizers can reach the list (gc.get_objects()) and must never find a
// missing item.
template <class Make>
PyObject* new_list(std::size_t n, Make make) {
  Ref list(PyList_New(0));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    Ref item(make(i));
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

template <class Texts>
PyObject* new_str_list(const Texts& texts) {
  return new_list(std::size(texts), [&](std::size_t i) { return new_str(texts[i]); });
}

// An optional text: None when absent.
inline PyObject* new_str_or_none(std::optional<std::string_view> text) {
  if (!text) Py_RETURN_NONE;
  return new_str(*text);
}

}  // namespace tarnwick::py
