// What `Directive` and `Ladder` share: final, immutable heap types without
// instance dictionary or weak references, named "builtins.<Name>", created
// once per process and never tied to a module object; instances own one C++
// value and compare by identity.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

namespace tarnwick::py {

// The object in `slot`, made by `make()` (a new reference or null) on the
// first call and kept for the life of the process. Making it may run Python
// code, and so other threads; if one of them filled the slot meanwhile, its
// object wins. Borrowed; null with an exception set on failure.
template <class Make>
PyObject* create_once(PyObject*& slot, Make make) {
  if (slot == nullptr) {
    PyObject* created = make();
    if (created == nullptr) return nullptr;
    if (slot == nullptr) {
      slot = created;
    } else {
      Py_DECREF(created);
    }
  }
  return slot;
}

// The type for `spec`, created once per process.
inline PyObject* shared_type(PyObject*& slot, PyType_Spec* spec) {
  return create_once(slot, [spec] { return PyType_FromSpec(spec); });
}

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
  } catch (...) {
    // Building the value may throw (std::bad_alloc, in practice): the bare
    // object goes, and the entry point's guard reports the exception.
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
    throw;
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

// The spec of a final, immutable type whose instances box one `V`.
template <class V>
constexpr PyType_Spec boxed_spec(const char* name, PyType_Slot* slots, unsigned long extra_flags = 0) {
  return {name, static_cast<int>(sizeof(Boxed<V>)), 0, static_cast<unsigned int>(kFinalImmutable | extra_flags),
          slots};
}

}  // namespace tarnwick::py
