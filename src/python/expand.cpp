// expand(value, *, actions=None)
#include "source/cli.h"

#include <optional>
#include <string>

#include "python/call.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

Signature kSignature{"expand", {"value", "*", "actions"}};

// A signal cut a blocking read short: let Python run its handlers. A handler
// that raises (KeyboardInterrupt) ends the read.
bool run_signal_handlers(void*) { return PyErr_CheckSignals() == 0; }

// Waiting for another thread's read of standard input: that thread may need
// the interpreter lock to finish (its signal handlers run Python code).
void without_interpreter_lock(void*, void (*wait)(void*), void* arg) {
  Py_BEGIN_ALLOW_THREADS
  wait(arg);
  Py_END_ALLOW_THREADS
}

// Wraps each directive into a Directive object as it is parsed and notes
// the first action outside the allowed set; that one is reported only once
// the whole source has parsed, since a parse error anywhere comes first.
class ResultList final : public source::DirectiveSink {
 public:
  ResultList(PyObject* list, const Call::TextSet& allowed) : list_(list), allowed_(allowed) {}

  bool accept(Directive&& directive, const std::optional<source::Origin>&) override {
    if (allowed_.given && !refused_ && !allowed_.contains(directive.action)) {
      refused_ = directive.action;
    }
    Ref object(wrap_directive(std::move(directive)));
    python_error_ = !object || PyList_Append(list_, object.get()) < 0;
    return !python_error_;
  }

  bool python_error() const { return python_error_; }
  const std::optional<std::string>& refused() const { return refused_; }

 private:
  PyObject* list_;
  const Call::TextSet& allowed_;
  std::optional<std::string> refused_;
  bool python_error_ = false;
};

PyObject* expand(PyObject*, Call& call) {
  std::string_view value;
  Call::TextSet actions;
  if (!call.text(0, value) || !call.text_set(1, actions)) return nullptr;
  Ref list(PyList_New(0));
  if (!list) return nullptr;
  const Call::TextSet& allowed = actions;
  ResultList results(list.get(), allowed);
  const source::ReadHooks hooks{run_signal_handlers, without_interpreter_lock, nullptr};
  const source::Outcome outcome = cli::expand(value, hooks, results);
  if (results.python_error()) return nullptr;
  if (outcome) {
    if (outcome->interrupted()) return nullptr;
    return raise_directive_error(outcome->message());
  }
  if (results.refused() && !check_action(*results.refused(), allowed)) return nullptr;
  return list.release();
}

}  // namespace

PyMethodDef kExpandDef = method_def<kSignature, expand>(
    "expand",
    "expand(value, *, actions=None)\n--\n\n"
    "`expand(value, *, actions=None)` \u2192 the directives a single `-D` value yields: one inline\n"
    "directive, or every directive in a `@file` (`@-` reads stdin). Raises `DirectiveError` on a bad\n"
    "directive/file, or \u2014 when `actions` is given \u2014 on any action outside that allowed set.");

}  // namespace tarnwick::py
