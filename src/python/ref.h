// Ref: the one owning reference type of the binding. Every new reference
// goes into a Ref, so early returns never leak and never double-free.
#pragma once

#include <Python.h>

#include <utility>

namespace tarnwick::py {

class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (which may be null after a failed call).
  explicit Ref(PyObject* owned) : p_(owned) {}
  static Ref borrow(PyObject* borrowed) {
    Py_XINCREF(borrowed);
    return Ref(borrowed);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref old(std::exchange(p_, std::exchange(other.p_, nullptr)));
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace tarnwick::py
