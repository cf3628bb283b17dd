// lint_fold(current, directives, names, *, qualifier=None, scopes=None)
// lint_settings(directives)
#include "lint/lint_fold.h"

#include "python/call.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

// Lambdas rather than functions, so that the folds inline them.
constexpr auto record_of = [](PyObject* d) -> const Directive& { return directive_value(d).record; };
constexpr auto verb_of = [](PyObject* d) { return directive_value(d).verb; };

Signature kFold{"lint_fold", {"current", "directives", "names", "*", "qualifier", "scopes"}};

PyObject* lint_fold(PyObject*, Call& call) {
  std::string_view current;
  Call::Objects directives;
  Call::Texts names;
  std::optional<std::string_view> qualifier;
  Call::Texts scopes;
  if (!call.text(0, current) || !to_directives(call, 1, directives) || !call.texts(2, names) ||
      !call.text(3, qualifier) || !call.texts(4, scopes)) {
    return nullptr;
  }
  auto severity = lint::severity_from_text(current);
  if (!severity) return raise_directive_error(severity.error());
  const MatchTarget target{names.span(), qualifier, scopes.span()};
  lint::Folded folded =
      lint::fold(severity.value(), target, directives.span(), record_of, verb_of);
  Ref level(severity_str(folded.severity));
  Ref notes(level ? new_str_list(folded.notes) : nullptr);
  if (!notes) return nullptr;
  return PyTuple_Pack(3, level.get(), folded.dropped ? Py_True : Py_False, notes.get());
}

Signature kSettings{"lint_settings", {"directives"}};

PyObject* lint_settings(PyObject*, Call& call) {
  Call::Objects directives;
  if (!to_directives(call, 0, directives)) return nullptr;
  const auto pairs = lint::settings(directives.span(), record_of, verb_of);
  return new_list(pairs.size(), [&](std::size_t i) -> PyObject* {
    Ref key(new_str(pairs[i].first));
    Ref value(key ? new_str(pairs[i].second) : nullptr);
    return value ? PyTuple_Pack(2, key.get(), value.get()) : nullptr;
  });
}

}  // namespace

PyObject* severity_str(lint::Severity severity) {
  static PyObject* made[lint::kSeverityCount] = {};
  PyObject* str = create_once(made[static_cast<std::size_t>(severity)],
                              [&] { return new_str(lint::severity_text(severity)); });
  Py_XINCREF(str);
  return str;
}

PyMethodDef kLintFoldDef = method_def<kFold, lint_fold>(
    "lint_fold",
    "lint_fold(current, directives, names, *, qualifier=None, scopes=None)\n--\n\n"
    "`lint_fold(current, directives, names, *, qualifier=None, scopes=None)` \u2192 `(severity, "
    "dropped,\n"
    "notes)`. Applies the standard lint combine policy (suppress / de-escalate / escalate / note);\n"
    "non-lint actions are inert. `current` \u2208 `\"error\" | \"warning\" | \"info\"`.");

PyMethodDef kLintSettingsDef = method_def<kSettings, lint_settings>(
    "lint_settings",
    "lint_settings(directives)\n--\n\n"
    "`lint_settings(directives)` \u2192 `[(key, value)]` from every `set:KEY=VALUE` directive, in "
    "order.");

}  // namespace tarnwick::py
