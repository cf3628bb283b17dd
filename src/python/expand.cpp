// expand(value, *, actions=None) and expand_sourced(value, *, actions=None)
#include "source/value.h"

#include <optional>
#include <string>

#include "python/call.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/exit_gate.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

Signature kExpandSignature{"expand", {"value", "*", "actions"}};
Signature kSourcedSignature{"expand_sourced", {"value", "*", "actions"}};

// A source's blocking calls run without the interpreter lock, so that other
// threads go on meanwhile; the lock is taken back (through the module's exit
// gate) to run signal handlers.
class InterpreterHooks final : public source::ReadHooks {
 public:
  explicit InterpreterHooks(PyObject* module) : lock_(exit_gate(module)) {}
  void leave() override { lock_.release(); }
  void enter() override { lock_.reacquire(); }
  // A handler that raises (KeyboardInterrupt) ends the read.
  bool check_signals() override { return PyErr_CheckSignals() == 0; }

 private:
  LockRelease lock_;
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
  ResultList(PyObject* list, const Call::TextSet& allowed, bool with_origins)
      : list_(list), allowed_(allowed), with_origins_(with_origins) {}

  bool accept(Directive&& directive, const std::optional<source::Origin>& origin) override {
    if (allowed_.given && !refused_ && !allowed_.contains(directive.action())) {
      refused_ = std::string(directive.action());
    }
    Ref item(wrap_directive(std::move(directive)));
    if (item && with_origins_) {
      Ref where(origins_.make(origin));
      item = Ref(where ? PyTuple_Pack(2, item.get(), where.get()) : nullptr);
    }
    python_error_ = !item || PyList_Append(list_, item.get()) < 0 || !signals_handled();
    return !python_error_;
  }

  bool python_error() const { return python_error_; }
  const std::optional<std::string>& refused() const { return refused_; }

 private:
  // A file of millions of short lines parses for seconds: Ctrl-C must be
  // heard meanwhile, not only while the source is read.
  bool signals_handled() { return (++count_ % 4096) != 0 || PyErr_CheckSignals() == 0; }

  PyObject* list_;
  const Call::TextSet& allowed_;
  bool with_origins_;
  OriginMaker origins_;
  std::optional<std::string> refused_;
  bool python_error_ = false;
  std::size_t count_ = 0;
};

PyObject* expand_list(PyObject* module, Call& call, bool with_origins) {
  std::string_view value;
  Call::TextSet actions;
  if (!call.text(0, value) || !call.text_set(1, actions)) return nullptr;
  Ref list(PyList_New(0));
  if (!list) return nullptr;
  const Call::TextSet& allowed = actions;
  ResultList results(list.get(), allowed, with_origins);
  InterpreterHooks hooks(module);
  const source::Outcome outcome = source::expand_value(value, hooks, results);
  if (results.python_error()) return nullptr;
  if (outcome) {
    if (outcome->interrupted()) return nullptr;
    return raise_directive_error(outcome->message());
  }
  if (results.refused() && !check_action(*results.refused(), allowed)) return nullptr;
  return list.release();
}

PyObject* expand(PyObject* module, Call& call) { return expand_list(module, call, false); }

PyObject* expand_sourced(PyObject* module, Call& call) { return expand_list(module, call, true); }

}  // namespace

PyMethodDef kExpandDef = method_def<kExpandSignature, expand>(
    "expand",
    "expand(value, *, actions=None)\n--\n\n"
    "`expand(value, *, actions=None)` \u2192 the directives a single `-D` value yields: one inline\n"
    "directive, or every directive in a `@file` (`@-` reads stdin). Raises `DirectiveError` on a bad\n"
    "directive/file, or \u2014 when `actions` is given \u2014 on any action outside that allowed set.");

PyMethodDef kExpandSourcedDef = method_def<kSourcedSignature, expand_sourced>(
    "expand_sourced",
    "expand_sourced(value, *, actions=None)\n--\n\n"
    "Like `expand`, but each item is `(directive, origin)`: origin is `(file, line)` for a\n"
    "directive read from `@file` (file as written after `@`) or `@-` (\"<stdin>\"), None inline.");

}  // namespace tarnwick::py
