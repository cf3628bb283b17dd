// expand(value, *, actions=None) and expand_sourced(value, *, actions=None)
#include "source/value.h"

#include <optional>
#include <string>

#include "python/args.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

constexpr const char* kNames[] = {"value", "actions"};
PyObject* kExpandInterned[std::size(kNames)] = {};
constexpr Signature kExpandSignature{"expand", kNames, 1, 1, kExpandInterned};
PyObject* kSourcedInterned[std::size(kNames)] = {};
constexpr Signature kSourcedSignature{"expand_sourced", kNames, 1, 1, kSourcedInterned};

// A source's blocking calls run without the interpreter lock, so that other
// threads go on meanwhile; the lock is taken back to run signal handlers.
class InterpreterHooks final : public source::ReadHooks {
 public:
  void leave() override { saved_ = PyEval_SaveThread(); }
  void enter() override { PyEval_RestoreThread(saved_); }
  // A handler that raises (KeyboardInterrupt) ends the read.
  bool check_signals() override { return PyErr_CheckSignals() == 0; }

 private:
  PyThreadState* saved_ = nullptr;
};

// (file, line), or None for an inline value. All origins of one value name
// the same file: its str is made once.
class OriginMaker {
 public:
  PyObject* make(const std::optional<source::Origin>& origin) {
    if (!origin) return Py_NewRef(Py_None);
    if (!file_ || file_text_ != origin->file) {
      file_ = Ref(PyUnicode_FromStringAndSize(origin->file.data(),
                                              static_cast<Py_ssize_t>(origin->file.size())));
      if (!file_) return nullptr;
      file_text_ = origin->file;
    }
    Ref line(PyLong_FromUnsignedLongLong(origin->line));
    return line ? PyTuple_Pack(2, file_.get(), line.get()) : nullptr;
  }

 private:
  Ref file_;
  std::string_view file_text_;
};

// Wraps each directive into a Directive object (with its origin, when
// asked) as it is parsed and notes the first action outside the allowed
// set; that one is reported only once the whole source has parsed, since a
// parse error anywhere comes first.
class ResultList final : public source::DirectiveSink {
 public:
  ResultList(PyObject* list, const TextSet* allowed, bool with_origins)
      : list_(list), allowed_(allowed), with_origins_(with_origins) {}

  bool accept(Directive&& directive, const std::optional<source::Origin>& origin) override {
    if (allowed_ != nullptr && !refused_ && !allowed_->contains(directive.action)) {
      refused_ = directive.action;
    }
    Ref item(wrap_directive(std::move(directive)));
    if (item && with_origins_) {
      Ref where(origins_.make(origin));
      item = Ref(where ? PyTuple_Pack(2, item.get(), where.get()) : nullptr);
    }
    python_error_ = !item || PyList_Append(list_, item.get()) < 0;
    return !python_error_;
  }

  bool python_error() const { return python_error_; }
  const std::optional<std::string>& refused() const { return refused_; }

 private:
  PyObject* list_;
  const TextSet* allowed_;
  bool with_origins_;
  OriginMaker origins_;
  std::optional<std::string> refused_;
  bool python_error_ = false;
};

PyObject* expand_list(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, bool with_origins) {
  return guarded([&]() -> PyObject* {
    BoundArgs bound;
    std::string_view value;
    TextSet actions;
    if (!bind_fastcall(sig, args, nargs, kwnames, bound) ||
        !to_text(bound[0], {sig.function, "value"}, value) ||
        (bound.given(1) && !to_text_set(bound[1], {sig.function, "actions"}, actions))) {
      return nullptr;
    }
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    const TextSet* allowed = bound.given(1) ? &actions : nullptr;
    ResultList results(list.get(), allowed, with_origins);
    InterpreterHooks hooks;
    const source::Outcome outcome = source::expand_value(value, hooks, results);
    if (results.python_error()) return nullptr;
    if (outcome) {
      if (outcome->interrupted()) return nullptr;
      return raise_directive_error(outcome->message());
    }
    if (results.refused() && !check_action(*results.refused(), allowed)) return nullptr;
    return list.release();
  });
}

PyObject* expand(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return expand_list(kExpandSignature, args, nargs, kwnames, false);
}

PyObject* expand_sourced(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return expand_list(kSourcedSignature, args, nargs, kwnames, true);
}

}  // namespace

PyMethodDef kExpandDef = {
    "expand", as_fastcall(expand), METH_FASTCALL | METH_KEYWORDS,
    "expand(value, *, actions=None)\n--\n\n"
    "`expand(value, *, actions=None)` \u2192 the directives a single `-D` value yields: one inline\n"
    "directive, or every directive in a `@file` (`@-` reads stdin). Raises `DirectiveError` on a bad\n"
    "directive/file, or \u2014 when `actions` is given \u2014 on any action outside that allowed set."};

PyMethodDef kExpandSourcedDef = {
    "expand_sourced", as_fastcall(expand_sourced), METH_FASTCALL | METH_KEYWORDS,
    "expand_sourced(value, *, actions=None)\n--\n\n"
    "Like `expand`, but each item is `(directive, origin)`: origin is `(file, line)` for a\n"
    "directive read from `@file` (file as written after `@`) or `@-` (\"<stdin>\"), None inline."};

}  // namespace tarnwick::py
