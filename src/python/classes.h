// What `Directive` and `Ladder` share: final, immutable heap types without
// instance dictionary or weak references, named "builtins.<Name>", created
// once per process and never tied to a module object; instances own one C++
// value and compare by identity.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

namespace tarnwick::py {

// The type for `spec`, created on the first call and reused afterwards.
// Borrowed; null with an exception set on failure.
PyObject* shared_type(PyObject*& slot, PyType_Spec* spec);

inline constexpr unsigned long kFinalImmutable = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

// An instance of type `T` holding one C++ value of type `V` after the
// object header.
template <class V>
struct Boxed {
  PyObject_HEAD
  V value;
};

template <class V, class... Args>
PyObject* new_boxed(PyObject* type, Args&&... args) {
  auto* tp = reinterpret_cast<PyTypeObject*>(type);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(tp, Py_tp_alloc));
  PyObject* self = alloc(tp, 0);
  if (self == nullptr) return nullptr;
  auto* boxed = reinterpret_cast<Boxed<V>*>(self);
  try {
    new (&boxed->value) V(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
    return PyErr_NoMemory();
  }
  return self;
}

template <class V>
const V& unbox(PyObject* self) {
  return reinterpret_cast<const Boxed<V>*>(self)->value;
}

template <class V>
void dealloc_boxed(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  reinterpret_cast<Boxed<V>*>(self)->value.~V();
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
  free_slot(self);
  Py_DECREF(tp);
}

}  // namespace tarnwick::py
