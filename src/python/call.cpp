#include "python/call.h"

#include <algorithm>
#include <cstdlib>


namespace tarnwick::py {
namespace {

// The name of `obj`'s type, for messages: the real one, read through
// `type.__dict__["__name__"]`, since a metaclass may make `__name__` anything.
Ref type_name(PyObject* obj) {
  Ref type_dict(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyType_Type), "__dict__"));
  Ref getter(type_dict ? PyMapping_GetItemString(type_dict.get(), "__name__") : nullptr);
  if (!getter) return Ref();
  Ref name(PyObject_CallMethod(getter.get(), "__get__", "O", reinterpret_cast<PyObject*>(Py_TYPE(obj))));
  if (name && !PyUnicode_Check(name.get())) {
    PyErr_SetString(PyExc_SystemError, "type.__name__ gave a non-str");
    return Ref();
  }
  return name;
}

// PyUnicode_Check, with exact str (the usual case) found without a call.
bool is_str(PyObject* obj) { return Py_TYPE(obj) == &PyUnicode_Type || PyUnicode_Check(obj); }

bool utf8_of(PyObject* str, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool is_sequence_not_str(PyObject* obj) {
  return PyList_CheckExact(obj) || PyTuple_CheckExact(obj) ||
         (!PyUnicode_Check(obj) && PySequence_Check(obj) == 1);
}

// Whether `obj` is numpy's boolean scalar (`numpy.bool_`, `numpy.bool` in
// numpy 2). Looked up in an already imported numpy only: an object of that
// type cannot exist before numpy is imported. The lookups run the module's
// own code (a lazy-import proxy replaces itself in sys.modules), so the
// module is owned across them and their results are only compared.
bool is_numpy_bool(PyObject* obj) {
  PyObject* modules = PySys_GetObject("modules");  // borrowed, used at once
  if (modules == nullptr || !PyDict_Check(modules)) return false;
  Ref numpy = Ref::borrow(PyDict_GetItemString(modules, "numpy"));
  if (!numpy) return false;
  for (const char* name : {"bool_", "bool"}) {
    Ref type(PyObject_GetAttrString(numpy.get(), name));
    if (!type) {
      PyErr_Clear();
      continue;
    }
    if (type.get() == reinterpret_cast<PyObject*>(Py_TYPE(obj))) return true;
  }
  return false;
}

}  // namespace

void* grow_storage(void* data, const void* inline_data, std::size_t bytes) {
  void* bigger = ::operator new(2 * bytes);
  std::memcpy(bigger, data, bytes);
  if (data != inline_data) ::operator delete(data);
  return bigger;
}

Signature::Signature(const char* function, std::initializer_list<const char*> names)
    : function_(function) {
  bool keyword_only = false;
  for (const char* name : names) {
    if (std::string_view(name) == "*") {
      keyword_only = true;
      continue;
    }
    if (count_ == kMaxParams) std::abort();  // a signature longer than any entry point has
    names_[count_++] = name;
    if (!keyword_only) positional_ = count_;
  }
}

Call::Call(Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) : sig_(sig) {
  refs_.fill_null(sig.count_);
  for (Py_ssize_t i = 0; i < nargs && static_cast<std::size_t>(i) < sig.positional_; ++i) {
    if (!put(static_cast<std::size_t>(i), args[i])) return;
  }
  // The names tuple belongs to the interpreter's call machinery: exact str
  // keys (or subclasses), no Python code runs while reading it.
  const Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    if (!bind_keyword(PyTuple_GetItem(kwnames, k), args[nargs + k])) return;
  }
  bound_ = check_bound(nargs);
}

Call::Call(Signature& sig, PyObject* args, PyObject* kwargs) : sig_(sig), owns_args_(true) {
  refs_.fill_null(sig.count_);
  const Py_ssize_t nargs = PyTuple_Size(args);
  if (nargs < 0) return;
  for (Py_ssize_t i = 0; i < nargs && static_cast<std::size_t>(i) < sig.positional_; ++i) {
    if (!put(static_cast<std::size_t>(i), PyTuple_GetItem(args, i))) return;
  }
  // `kwargs` may be the caller's own dict: each value is owned as soon as
  // it is read, and nothing in between runs Python code.
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!bind_keyword(key, value)) return;
    }
  }
  bound_ = check_bound(nargs);
}

Call::~Call() {
  PyObject** refs = refs_.data();
  for (std::size_t i = owns_args_ ? 0 : sig_.count_; i < refs_.size(); ++i) Py_XDECREF(refs[i]);
}

bool Call::put(std::size_t i, PyObject* value) {
  if (arg(i) != nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig_.function_,
                 sig_.names_[i]);
    return false;
  }
  if (owns_args_) Py_INCREF(value);
  refs_.data()[i] = value;  // a slot made at binding, so this cannot throw
  return true;
}

bool Call::bind_keyword(PyObject* key, PyObject* value) {
  if (!sig_.interned_ready_) {
    for (std::size_t i = 0; i < sig_.count_; ++i) {
      if (sig_.interned_[i] == nullptr) sig_.interned_[i] = PyUnicode_InternFromString(sig_.names_[i]);
      if (sig_.interned_[i] == nullptr) return false;
    }
    sig_.interned_ready_ = true;
  }
  for (std::size_t i = 0; i < sig_.count_; ++i) {
    if (key == sig_.interned_[i]) return put(i, value);
  }
  if (!PyUnicode_Check(key)) {
    PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", sig_.function_);
    return false;
  }
  for (std::size_t i = 0; i < sig_.count_; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, sig_.names_[i]) == 0) return put(i, value);
  }
  if (!PyErr_Occurred()) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig_.function_,
                 key);
  }
  return false;
}

bool Call::check_bound(Py_ssize_t nargs) {
  if (static_cast<std::size_t>(nargs) > sig_.positional_) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu positional argument%s (%zd given)",
                 sig_.function_, sig_.positional_, sig_.positional_ == 1 ? "" : "s", nargs);
    return false;
  }
  for (std::size_t i = 0; i < sig_.positional_; ++i) {
    if (arg(i) == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)",
                   sig_.function_, sig_.names_[i], i + 1);
      return false;
    }
  }
  return true;
}

bool Call::wrong_type(std::size_t i, const char* expected, PyObject* obj) {
  Ref name = type_name(obj);
  if (name) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %U", sig_.function_,
                 sig_.names_[i], expected, name.get());
  }
  return false;
}

bool Call::wrong_item(std::size_t i, const char* what, PyObject* item) {
  Ref name = type_name(item);
  if (name) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not one holding %U",
                 sig_.function_, sig_.names_[i], what, name.get());
  }
  return false;
}

// An exact tuple or list is read by index, with room for all its items
// made at once; anything else is iterated, which runs the object's own code
// between items, and each item is owned as it comes. Each item is owned,
// even a tuple's, so that the items of one argument lie side by side in
// refs_ whatever its type.
template <class Take>
bool Call::for_each_item(PyObject* obj, Take take) {
  const bool list = PyList_CheckExact(obj);
  if (list || PyTuple_CheckExact(obj)) {
    // `take` runs no Python code unless it fails, so a list cannot change
    // while it is read; its items are owned because later conversions, and
    // the garbage collection that any new object may start, can run Python
    // code that empties it.
    const Py_ssize_t n = list ? PyList_Size(obj) : PyTuple_Size(obj);
    refs_.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = list ? PyList_GetItem(obj, i) : PyTuple_GetItem(obj, i);
      Py_INCREF(item);
      refs_.push_reserved(item);
      if (!take(item)) return false;
    }
    return true;
  }
  Ref iter(PyObject_GetIter(obj));
  if (!iter) return false;
  while (PyObject* item = PyIter_Next(iter.get())) {
    Ref next(item);
    own(item);
    if (!take(item)) return false;
  }
  return !PyErr_Occurred();
}

bool Call::text(std::size_t i, std::string_view& out) {
  PyObject* obj = arg(i);
  if (!is_str(obj)) return wrong_type(i, "str", obj);
  return utf8_of(obj, out);
}

bool Call::text(std::size_t i, std::optional<std::string_view>& out) {
  if (!given(i)) return true;
  std::string_view view;
  if (!text(i, view)) return false;
  out = view;
  return true;
}

bool Call::collect_texts(std::size_t i, PyObject* obj, const char* what, Texts& out) {
  out.buffer_ = &views_;
  out.begin_ = views_.size();
  const bool ok = for_each_item(obj, [&](PyObject* item) {
    std::string_view view;
    if (!is_str(item)) return wrong_item(i, what, item);
    if (!utf8_of(item, view)) return false;
    views_.push_back(view);
    return true;
  });
  out.size_ = views_.size() - out.begin_;
  return ok;
}

bool Call::texts(std::size_t i, Texts& out) {
  if (!given(i)) return true;
  PyObject* obj = arg(i);
  if (!is_sequence_not_str(obj)) return wrong_type(i, "a sequence of str", obj);
  return collect_texts(i, obj, "a sequence of str", out);
}

bool Call::TextSet::contains(std::string_view text) const {
  const auto items = members.span();
  return std::binary_search(items.begin(), items.end(), text);
}

bool Call::text_set(std::size_t i, TextSet& out) {
  if (!given(i)) return true;
  PyObject* obj = arg(i);
  if (!PyAnySet_Check(obj)) return wrong_type(i, "a set or frozenset of str", obj);
  if (!collect_texts(i, obj, "a set or frozenset of str", out.members)) return false;
  std::string_view* first = views_.data() + out.members.begin_;
  std::sort(first, first + out.members.size_);
  out.given = true;
  return true;
}

bool Call::to_int32(std::size_t i, PyObject* obj, std::int32_t& out) {
  // An exact int is its own index, read without a call; anything else goes
  // through __index__, whose result is owned here.
  Ref index;
  if (!PyLong_CheckExact(obj)) {
    index = Ref(PyNumber_Index(obj));
    if (!index) {
      if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        wrong_type(i, "an integer", obj);
      }
      return false;
    }
    obj = index.get();
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || value < INT32_MIN || value > INT32_MAX) {
    PyErr_Format(PyExc_OverflowError,
                 "%s() argument '%s' must be in the signed 32-bit range [-2147483648, 2147483647]",
                 sig_.function_, sig_.names_[i]);
    return false;
  }
  out = static_cast<std::int32_t>(value);
  return true;
}

bool Call::int32(std::size_t i, std::int32_t& out) { return to_int32(i, arg(i), out); }

bool Call::steps(std::size_t i, Steps& out) {
  if (!given(i)) return true;
  PyObject* obj = arg(i);
  if (!PyDict_Check(obj)) return wrong_type(i, "a dict of str to int", obj);
  // Own every pair first, key and value side by side in refs_: converting a
  // value runs its __index__, which may change the dict.
  const std::size_t first = refs_.size();
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    own(key);
    own(value);
  }
  const std::size_t last = refs_.size();
  out.buffer_ = &steps_;
  out.begin_ = steps_.size();
  for (std::size_t k = first; k < last; k += 2) {
    PyObject* key_obj = refs_.data()[k];
    if (!is_str(key_obj)) return wrong_item(i, "a dict of str to int", key_obj);
    StepEntry entry{};
    if (!utf8_of(key_obj, entry.verb) || !to_int32(i, refs_.data()[k + 1], entry.step)) return false;
    steps_.push_back(entry);
    ++out.size_;
  }
  return true;
}

bool Call::flag(std::size_t i, bool& out) {
  PyObject* obj = arg(i);
  if (obj == nullptr) return true;
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
  return wrong_type(i, "bool", obj);
}

bool Call::objects(std::size_t i, PyTypeObject* type, const char* what, Objects& out) {
  PyObject* obj = arg(i);
  if (!is_sequence_not_str(obj)) return wrong_type(i, what, obj);
  // The items are the ones for_each_item owns, side by side in refs_.
  out.buffer_ = &refs_;
  out.begin_ = refs_.size();
  const bool ok = for_each_item(
      obj, [&](PyObject* item) {
        return type == nullptr || Py_TYPE(item) == type || wrong_item(i, what, item);
      });
  out.size_ = refs_.size() - out.begin_;
  return ok;
}

}  // namespace tarnwick::py
