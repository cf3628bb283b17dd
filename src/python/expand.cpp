// expand(value, *, actions=None)
#include "source/cli.h"

#include "python/args.h"
#include "python/convert.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

constexpr const char* kNames[] = {"value", "actions"};
PyObject* kSignatureInterned[std::size(kNames)] = {};
constexpr Signature kSignature{"expand", kNames, 1, 1, kSignatureInterned};

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

PyObject* expand(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs bound;
    std::string_view value;
    TextSet actions;
    if (!bind_fastcall(kSignature, args, nargs, kwnames, bound) ||
        !to_text(bound[0], {"expand", "value"}, value) ||
        (bound.given(1) && !to_text_set(bound[1], {"expand", "actions"}, actions))) {
      return nullptr;
    }
    const source::ReadHooks hooks{run_signal_handlers, without_interpreter_lock, nullptr};
    auto expanded = cli::expand(value, hooks);
    if (!expanded) {
      if (expanded.error().interrupted()) return nullptr;
      return raise_directive_error(expanded.error().message());
    }
    std::vector<source::Sourced>& sourced = expanded.value();
    const TextSet* allowed = bound.given(1) ? &actions : nullptr;
    for (const source::Sourced& s : sourced) {
      if (!check_action(s.directive.action, allowed)) return nullptr;
    }
    return new_list(sourced.size(),
                    [&](std::size_t i) { return wrap_directive(std::move(sourced[i].directive)); });
  });
}

}  // namespace

PyMethodDef kExpandDef = {
    "expand", as_fastcall(expand), METH_FASTCALL | METH_KEYWORDS,
    "expand(value, *, actions=None)\n--\n\n"
    "`expand(value, *, actions=None)` \u2192 the directives a single `-D` value yields: one inline\n"
    "directive, or every directive in a `@file` (`@-` reads stdin). Raises `DirectiveError` on a bad\n"
    "directive/file, or \u2014 when `actions` is given \u2014 on any action outside that allowed set."};

}  // namespace tarnwick::py
