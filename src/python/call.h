// Call: the arguments of one call of a function or method, bound to its
// signature and converted parameter by parameter.
//
// Python code can run wherever the binding asks the interpreter for
// something: an attribute lookup, `__index__`, `__iter__` and `__next__`,
// `__eq__` and `__hash__` of a str subclass inside a set or dict lookup, a
// property on a metaclass, a finalizer run by a decref or by the garbage
// collection that any new list or tuple may start, and a signal handler or
// another thread while `expand` waits for input without the interpreter
// lock. That code may drop the last reference to anything and may return
// anything. So, in every entry point:
//   - nothing borrowed is used after such a call: every object the call
//     touches afterwards (each argument, each item taken from one) is owned
//     by its Call, in one list released when the call ends. The one
//     exception is the arguments of a fastcall: the caller owns them for
//     the whole call (its array is out of reach of any Python code), so
//     they are used as they come; a tp_new call's keyword arguments may sit
//     in the caller's own dict, which Python code can change, so there
//     every argument is owned;
//   - every object that Python code produced is type-checked before use.
// Converted texts are UTF-8 views into str objects the Call owns, so they
// stay valid for the whole call.
//
// Binding: parameters before "*" may be given by position or keyword and
// are required; the ones after it are keyword-only and optional. Missing,
// unknown, duplicated and surplus arguments raise TypeError. Conversion:
// a converter takes the parameter's index, raises TypeError naming the
// parameter (from the signature) for a wrong type and lets OverflowError and
// UnicodeEncodeError through; it returns false after raising.
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "core/ladder.h"
#include "python/ref.h"

namespace tarnwick::py {

inline constexpr std::size_t kMaxParams = 8;

class Signature {
 public:
  // `function` as messages show it ("Ladder.fold"); `names` in order, with
  // "*" before the keyword-only ones.
  Signature(const char* function, std::initializer_list<const char*> names);

  const char* function() const { return function_; }
  const char* name(std::size_t i) const { return names_[i]; }

 private:
  friend class Call;
  const char* function_;
  const char* names_[kMaxParams] = {};
  std::size_t count_ = 0;
  std::size_t positional_ = 0;  // the required ones, which may come by position
  // Interned copies of the names, made on first use: keywords in calls are
  // almost always interned, so they are found by pointer.
  PyObject* interned_[kMaxParams] = {};
  bool interned_ready_ = false;
};

// Doubles a full buffer of `bytes` bytes at `data` (freed unless it is the
// inline storage); kept out of line so that adding an item stays small.
void* grow_storage(void* data, const void* inline_data, std::size_t bytes);

class Call {
  // Items each buffer keeps inline: enough for the arguments of a fold over
  // a few dozen directives, so that a typical call allocates nothing.
  static constexpr std::size_t kInline = 64;

  // Items kept inline up to N, so that a typical call allocates nothing.
  template <class T, std::size_t N>
  class Buffer {
    static_assert(std::is_trivially_copyable_v<T>);

   public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
      if (data_ != inline_data()) ::operator delete(data_);
    }
    void push_back(const T& value) {
      reserve_one();
      data_[size_++] = value;
    }
    // Room for one more item, so that the next push_back cannot throw.
    void reserve_one() {
      if (size_ == capacity_) grow();
    }
    // Room for `n` more items, for push_reserved.
    void reserve(std::size_t n) {
      while (capacity_ - size_ < n) grow();
    }
    void push_reserved(const T& value) { data_[size_++] = value; }
    // `n` null items (n <= N, on an empty buffer).
    void fill_null(std::size_t n) {
      for (std::size_t i = 0; i < n; ++i) data_[i] = nullptr;
      size_ = n;
    }
    std::size_t size() const { return size_; }
    T* data() const { return data_; }

   private:
    T* inline_data() { return reinterpret_cast<T*>(storage_); }
    void grow() {
      data_ = static_cast<T*>(grow_storage(data_, storage_, capacity_ * sizeof(T)));
      capacity_ *= 2;
    }
    alignas(T) unsigned char storage_[N * sizeof(T)];
    T* data_ = inline_data();
    std::size_t size_ = 0;
    std::size_t capacity_ = N;
  };

 public:
  // Items [begin, begin + size) of one of the Call's buffers, which the
  // body may reorder. Resolved on use, so read it only once every argument
  // is converted.
  template <class T>
  class Slice {
   public:
    std::span<T> span() const {
      return buffer_ ? std::span<T>(buffer_->data() + begin_, size_) : std::span<T>();
    }
    std::size_t size() const { return size_; }

   private:
    friend class Call;
    const Buffer<T, kInline>* buffer_ = nullptr;
    std::size_t begin_ = 0;
    std::size_t size_ = 0;
  };
  using Texts = Slice<std::string_view>;
  using Objects = Slice<PyObject*>;
  using Steps = Slice<StepEntry>;
  // A set of texts, sorted by bytes (code point order); `given` is false
  // when the argument was absent or None.
  struct TextSet {
    Texts members;
    bool given = false;
    bool contains(std::string_view text) const;
  };

  // Binds the arguments of a METH_FASTCALL | METH_KEYWORDS call.
  Call(Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
  // Binds the arguments of a tp_new call.
  Call(Signature& sig, PyObject* args, PyObject* kwargs);
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call();

  // Whether binding succeeded (it raised otherwise).
  bool bound() const { return bound_; }
  // Whether parameter `i` was given; for a keyword-only one, also that it
  // is not None (which means the same as absent).
  bool given(std::size_t i) const {
    return arg(i) != nullptr && (arg(i) != Py_None || i < sig_.positional_);
  }

  // A str (or subclass), as UTF-8.
  bool text(std::size_t i, std::string_view& out);
  // The same, or nothing when absent or None.
  bool text(std::size_t i, std::optional<std::string_view>& out);
  // A sequence of str that is not itself a str, in order; empty when absent
  // or None.
  bool texts(std::size_t i, Texts& out);
  // A set or frozenset (or subclass) of str.
  bool text_set(std::size_t i, TextSet& out);
  // An integer (int, bool or anything with __index__) in the signed 32-bit
  // range.
  bool int32(std::size_t i, std::int32_t& out);
  // A dict (or subclass) of str to signed 32-bit integers, in dict order;
  // empty when absent or None.
  bool steps(std::size_t i, Steps& out);
  // True or False, or numpy's boolean scalar; left as it is when absent
  // (None is refused).
  bool flag(std::size_t i, bool& out);
  // A sequence (not a str) of objects of exactly `type` (of any type when
  // `type` is null), in order.
  bool objects(std::size_t i, PyTypeObject* type, const char* what, Objects& out);
  // Parameter `i` as given (null when absent), for a body that hands it on
  // unconverted; valid for the whole call.
  PyObject* object(std::size_t i) const { return arg(i); }
  // Raises TypeError: parameter `i` must be `what` and holds `item`. False.
  bool wrong_item(std::size_t i, const char* what, PyObject* item);
  // Raises TypeError: parameter `i` must be `expected`, not `obj`. False.
  bool wrong_type(std::size_t i, const char* expected, PyObject* obj);

 private:
  PyObject* arg(std::size_t i) const { return refs_.data()[i]; }
  bool put(std::size_t i, PyObject* value);
  bool bind_keyword(PyObject* key, PyObject* value);
  bool check_bound(Py_ssize_t nargs);
  // Takes a reference to `obj`. May throw (std::bad_alloc) before taking it.
  void own(PyObject* obj) {
    refs_.reserve_one();
    Py_INCREF(obj);
    refs_.push_reserved(obj);
  }
  // Calls `take(item)` for each item of a sequence or set, each owned, in
  // order, at the end of refs_.
  template <class Take>
  bool for_each_item(PyObject* obj, Take take);
  bool collect_texts(std::size_t i, PyObject* obj, const char* what, Texts& out);
  bool to_int32(std::size_t i, PyObject* obj, std::int32_t& out);

  Signature& sig_;
  // The bound arguments in parameter order (null where not given), then
  // every other object taken while converting, the items of one argument
  // side by side (Objects and dict pairs are read from here): all owned,
  // released by the destructor.
  Buffer<PyObject*, kInline> refs_;
  Buffer<std::string_view, kInline> views_;
  Buffer<StepEntry, kInline> steps_;
  bool bound_ = false;
  // Whether the bound arguments (the first slots of refs_) are owned.
  bool owns_args_ = false;
};

// Runs `body`, turning C++ exceptions (allocation failures, in practice)
// into Python exceptions so that none crosses into the interpreter.
template <class Body>
PyObject* guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
    return nullptr;
  }
}

// The body of a function or method: `self` (the module for a function) and
// its bound arguments.
using Body = PyObject* (*)(PyObject* self, Call& call);

template <Signature& sig, Body body>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Call call(sig, args, nargs, kwnames);
    return call.bound() ? body(self, call) : nullptr;
  });
}

template <Signature& sig, Body body>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Call call(sig, args, kwargs);
    return call.bound() ? body(reinterpret_cast<PyObject*>(type), call) : nullptr;
  });
}

// The PyMethodDef of a function or method: binds with `sig`, runs `body`
// under the error guard.
template <Signature& sig, Body body>
PyMethodDef method_def(const char* name, const char* doc) {
  auto entry = &fastcall_entry<sig, body>;
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

}  // namespace tarnwick::py
