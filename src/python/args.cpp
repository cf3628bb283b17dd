#include "python/args.h"

#include <algorithm>

namespace tarnwick::py {
namespace {

// type(obj).__name__, for messages.
Ref type_name(PyObject* obj) {
  return Ref(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
}

bool wrong_type(const Param& param, const char* expected, PyObject* obj) {
  Ref name = type_name(obj);
  if (!name) return false;
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %U", param.function, param.name,
               expected, name.get());
  return false;
}

bool wrong_item(const Param& param, const char* expected, PyObject* item) {
  Ref name = type_name(item);
  if (!name) return false;
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must contain only %s, not %U", param.function,
               param.name, expected, name.get());
  return false;
}

bool utf8_of(PyObject* str, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// Calls `take(item)` (which receives a new reference) for each item of a
// sequence or set, in order; exact lists and tuples are read directly.
template <class Take>
bool for_each_item(PyObject* obj, Take take) {
  if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
    const bool list = PyList_CheckExact(obj);
    const Py_ssize_t n = list ? PyList_Size(obj) : PyTuple_Size(obj);
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = list ? PyList_GetItem(obj, i) : PyTuple_GetItem(obj, i);
      if (item == nullptr) return false;
      Py_INCREF(item);
      if (!take(item)) return false;
    }
    return true;
  }
  Ref iter(PyObject_GetIter(obj));
  if (!iter) return false;
  while (PyObject* item = PyIter_Next(iter.get())) {
    if (!take(item)) return false;
  }
  return !PyErr_Occurred();
}

bool is_sequence_not_str(PyObject* obj) {
  return !PyUnicode_Check(obj) && PySequence_Check(obj) == 1;
}

bool too_many_positional(const Signature& sig, Py_ssize_t nargs) {
  PyErr_Format(PyExc_TypeError, "%s() takes at most %zu positional argument%s (%zd given)",
               sig.function, sig.positional, sig.positional == 1 ? "" : "s", nargs);
  return false;
}

bool check_required(const Signature& sig, const BoundArgs& out) {
  for (std::size_t i = 0; i < sig.required; ++i) {
    if (out[i] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", sig.function,
                   sig.names[i], i + 1);
      return false;
    }
  }
  return true;
}

bool intern_names(const Signature& sig) {
  for (std::size_t i = 0; i < sig.names.size(); ++i) {
    if (sig.interned[i] == nullptr) {
      sig.interned[i] = PyUnicode_InternFromString(sig.names[i]);
      if (sig.interned[i] == nullptr) return false;
    }
  }
  return true;
}

// The parameter a keyword names, or -1 after raising TypeError.
Py_ssize_t keyword_index(const Signature& sig, PyObject* key) {
  if (!intern_names(sig)) return -1;
  for (std::size_t i = 0; i < sig.names.size(); ++i) {
    if (key == sig.interned[i]) return static_cast<Py_ssize_t>(i);
  }
  if (PyUnicode_Check(key)) {
    for (std::size_t i = 0; i < sig.names.size(); ++i) {
      if (PyUnicode_CompareWithASCIIString(key, sig.names[i]) == 0) return static_cast<Py_ssize_t>(i);
    }
    if (PyErr_Occurred()) return -1;
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.function, key);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", sig.function);
  }
  return -1;
}

}  // namespace

BoundArgs::~BoundArgs() {
  for (PyObject* o : items_) Py_XDECREF(o);
}

bool BoundArgs::put(const Signature& sig, std::size_t i, PyObject* value) {
  if (items_[i] != nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function,
                 sig.names[i]);
    return false;
  }
  Py_INCREF(value);
  items_[i] = value;
  return true;
}

bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, BoundArgs& out) {
  if (static_cast<std::size_t>(nargs) > sig.positional) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    if (!out.put(sig, static_cast<std::size_t>(i), args[i])) return false;
  }
  const Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    const Py_ssize_t index = keyword_index(sig, PyTuple_GetItem(kwnames, k));
    if (index < 0 || !out.put(sig, static_cast<std::size_t>(index), args[nargs + k])) return false;
  }
  return check_required(sig, out);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, BoundArgs& out) {
  const Py_ssize_t nargs = PyTuple_Size(args);
  if (nargs < 0) return false;
  if (static_cast<std::size_t>(nargs) > sig.positional) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    if (!out.put(sig, static_cast<std::size_t>(i), PyTuple_GetItem(args, i))) return false;
  }
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      const Py_ssize_t index = keyword_index(sig, key);
      if (index < 0 || !out.put(sig, static_cast<std::size_t>(index), value)) return false;
    }
  }
  return check_required(sig, out);
}

bool to_text(PyObject* obj, const Param& param, std::string_view& out) {
  if (!PyUnicode_Check(obj)) return wrong_type(param, "str", obj);
  return utf8_of(obj, out);
}

// Every item of `obj`, which must be a str, into `out`.
bool collect_texts(PyObject* obj, const Param& param, TextList& out) {
  return for_each_item(obj, [&](PyObject* item) {
    out.refs_.adopt(item);
    if (!PyUnicode_Check(item)) return wrong_item(param, "str", item);
    std::string_view view;
    if (!utf8_of(item, view)) return false;
    out.views_.push_back(view);
    return true;
  });
}

bool to_text_list(PyObject* obj, const Param& param, TextList& out) {
  if (!is_sequence_not_str(obj)) return wrong_type(param, "a sequence of str", obj);
  return collect_texts(obj, param, out);
}

bool TextSet::contains(std::string_view text) const {
  return std::binary_search(members().begin(), members().end(), text);
}

bool to_text_set(PyObject* obj, const Param& param, TextSet& out) {
  if (!PyAnySet_Check(obj)) return wrong_type(param, "a set or frozenset of str", obj);
  if (!collect_texts(obj, param, out.texts_)) return false;
  std::sort(out.texts_.views_.begin(), out.texts_.views_.end());
  return true;
}

bool to_int32(PyObject* obj, const Param& param, std::int32_t& out) {
  Ref index(PyNumber_Index(obj));
  if (!index) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      Ref name = type_name(obj);
      if (name) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be an integer, not %U",
                     param.function, param.name, name.get());
      }
    }
    return false;
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || value < INT32_MIN || value > INT32_MAX) {
    PyErr_Format(PyExc_OverflowError,
                 "%s() argument '%s' must be in the signed 32-bit range [-2147483648, 2147483647]",
                 param.function, param.name);
    return false;
  }
  out = static_cast<std::int32_t>(value);
  return true;
}

bool to_step_map(PyObject* obj, const Param& param, StepMap& out) {
  if (!PyDict_Check(obj)) return wrong_type(param, "a dict of str to int", obj);
  // Take every pair first: converting a value may run Python code (its
  // __index__) that changes the dict.
  struct Pair {
    PyObject* key;
    PyObject* value;
  };
  SmallVec<Pair, 8> pairs;
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    Py_INCREF(key);
    out.refs_.adopt(key);
    Py_INCREF(value);
    out.refs_.adopt(value);
    pairs.push_back({key, value});
  }
  for (const auto& [k, v] : pairs) {
    if (!PyUnicode_Check(k)) {
      Ref name = type_name(k);
      if (name) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must have str keys, not %U",
                     param.function, param.name, name.get());
      }
      return false;
    }
    std::string_view text;
    std::int32_t step = 0;
    if (!utf8_of(k, text) || !to_int32(v, param, step)) return false;
    out.entries_.push_back({text, step});
  }
  return true;
}

// Whether `obj` is numpy's boolean scalar (`numpy.bool_`, `numpy.bool` in
// numpy 2). Looked up in an already imported numpy only: an object of that
// type cannot exist before numpy is imported.
bool is_numpy_bool(PyObject* obj) {
  PyObject* modules = PySys_GetObject("modules");  // borrowed
  PyObject* numpy = modules && PyDict_Check(modules) ? PyDict_GetItemString(modules, "numpy") : nullptr;
  if (numpy == nullptr) return false;
  for (const char* name : {"bool_", "bool"}) {
    Ref type(PyObject_GetAttrString(numpy, name));
    if (!type) {
      PyErr_Clear();
      continue;
    }
    if (type.get() == reinterpret_cast<PyObject*>(Py_TYPE(obj))) return true;
  }
  return false;
}

bool to_flag(PyObject* obj, const Param& param, bool& out) {
  if (obj == Py_True || obj == Py_False) {
    out = obj == Py_True;
    return true;
  }
  if (is_numpy_bool(obj)) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) return false;
    out = truth == 1;
    return true;
  }
  return wrong_type(param, "bool", obj);
}

bool to_object_list(PyObject* obj, const Param& param, PyTypeObject* type, const char* what,
                    RefList& out) {
  if (!is_sequence_not_str(obj)) return wrong_type(param, what, obj);
  return for_each_item(obj, [&](PyObject* item) {
    out.adopt(item);
    if (Py_TYPE(item) != type) {
      Ref name = type_name(item);
      if (name) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not a sequence holding %U",
                     param.function, param.name, what, name.get());
      }
      return false;
    }
    return true;
  });
}

}  // namespace tarnwick::py
