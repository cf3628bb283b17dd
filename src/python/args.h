// Argument binding and conversion, shared by every function and method.
//
// Binding: parameters before `*` may be given by position or keyword, the
// rest by keyword only; missing, unknown, duplicated and surplus arguments
// raise TypeError. Conversion: every converter names its parameter in its
// TypeError; OverflowError and UnicodeEncodeError propagate. Converted texts
// are UTF-8 views borrowed from str objects that the converted value holds
// a strong reference to, so they stay valid until the call returns whatever
// Python code a later conversion runs.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "core/ladder.h"
#include "python/ref.h"
#include "python/small_vec.h"

namespace tarnwick::py {

struct Signature {
  const char* function;             // as shown in messages, e.g. "Ladder.fold"
  std::span<const char* const> names;
  std::size_t positional;           // how many may come by position
  std::size_t required;             // how many must be given
  // Interned copies of `names`, made on first use: keywords in calls are
  // almost always interned, so they are found by pointer.
  PyObject** interned;
};

inline constexpr std::size_t kMaxParams = 10;

// The bound arguments, in parameter order; null where a parameter was not
// given. Holds a strong reference to each.
class BoundArgs {
 public:
  BoundArgs() = default;
  BoundArgs(const BoundArgs&) = delete;
  BoundArgs& operator=(const BoundArgs&) = delete;
  ~BoundArgs();
  PyObject* operator[](std::size_t i) const { return items_[i]; }
  // Given and not None.
  PyObject* given(std::size_t i) const { return items_[i] == Py_None ? nullptr : items_[i]; }

 private:
  friend bool bind_fastcall(const Signature&, PyObject* const*, Py_ssize_t, PyObject*, BoundArgs&);
  friend bool bind_tuple(const Signature&, PyObject*, PyObject*, BoundArgs&);
  bool put(const Signature& sig, std::size_t i, PyObject* value);
  PyObject* items_[kMaxParams] = {};
};

bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, BoundArgs& out);
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, BoundArgs& out);

// Where a conversion error points: "{function}() argument '{name}'".
struct Param {
  const char* function;
  const char* name;
};

// Strong references held for the duration of a call.
class RefList {
 public:
  RefList() = default;
  RefList(const RefList&) = delete;
  RefList& operator=(const RefList&) = delete;
  ~RefList() {
    for (PyObject* o : refs_) Py_DECREF(o);
  }
  // Takes over a new reference (released again if it cannot be stored).
  void adopt(PyObject* owned) {
    try {
      refs_.push_back(owned);
    } catch (...) {
      Py_DECREF(owned);
      throw;
    }
  }
  std::span<PyObject* const> items() const { return refs_.span(); }

 private:
  SmallVec<PyObject*, 32> refs_;
};

// A str (or str subclass) as UTF-8.
bool to_text(PyObject* obj, const Param& param, std::string_view& out);

// A sequence of str that is not itself a str: the UTF-8 views in order.
class TextList {
 public:
  std::span<const std::string_view> views() const { return views_.span(); }
  std::size_t size() const { return views_.size(); }

 private:
  friend bool collect_texts(PyObject*, const Param&, TextList&);
  friend bool to_text_set(PyObject*, const Param&, class TextSet&);
  SmallVec<std::string_view, 8> views_;
  RefList refs_;
};
bool to_text_list(PyObject* obj, const Param& param, TextList& out);

// A set or frozenset (or subclass) of str, its members sorted by bytes
// (which is code point order).
class TextSet {
 public:
  std::span<const std::string_view> members() const { return texts_.views(); }
  bool contains(std::string_view text) const;

 private:
  friend bool to_text_set(PyObject*, const Param&, TextSet&);
  TextList texts_;
};
bool to_text_set(PyObject* obj, const Param& param, TextSet& out);

// An integer (int, bool or anything with __index__) in the signed 32-bit range.
bool to_int32(PyObject* obj, const Param& param, std::int32_t& out);

// A dict (or subclass) of str to signed 32-bit integers, in dict order.
class StepMap {
 public:
  std::span<const StepEntry> entries() const { return entries_.span(); }

 private:
  friend bool to_step_map(PyObject*, const Param&, StepMap&);
  SmallVec<StepEntry, 8> entries_;
  RefList refs_;
};
bool to_step_map(PyObject* obj, const Param& param, StepMap& out);

// True or False, or numpy's boolean scalar; nothing else.
bool to_flag(PyObject* obj, const Param& param, bool& out);

// A sequence (not a str) of objects of exactly `type`, referenced in order.
bool to_object_list(PyObject* obj, const Param& param, PyTypeObject* type, const char* what,
                    RefList& out);

}  // namespace tarnwick::py
