// lint_fold(current, directives, names, *, qualifier=None, scopes=None)
// lint_settings(directives)
#include "lint/lint_fold.h"

#include "python/args.h"
#include "python/convert.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

const Directive& record_of(PyObject* d) { return directive_value(d).record; }
std::optional<lint::LintAction> verb_of(PyObject* d) { return directive_value(d).verb; }

constexpr const char* kFoldNames[] = {"current", "directives", "names", "qualifier", "scopes"};
PyObject* kFoldInterned[std::size(kFoldNames)] = {};
constexpr Signature kFold{"lint_fold", kFoldNames, 3, 3, kFoldInterned};

PyObject* lint_fold(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    constexpr const char* f = "lint_fold";
    BoundArgs bound;
    std::string_view current;
    RefList directives;
    TextList names;
    std::string_view qualifier;
    TextList scopes;
    if (!bind_fastcall(kFold, args, nargs, kwnames, bound) ||
        !to_text(bound[0], {f, "current"}, current) ||
        !to_directive_list(bound[1], {f, "directives"}, directives) ||
        !to_text_list(bound[2], {f, "names"}, names) ||
        (bound.given(3) && !to_text(bound[3], {f, "qualifier"}, qualifier)) ||
        (bound.given(4) && !to_text_list(bound[4], {f, "scopes"}, scopes))) {
      return nullptr;
    }
    auto severity = lint::severity_from_text(current);
    if (!severity) return raise_directive_error(severity.error());
    MatchTarget target{names.views(), std::nullopt, scopes.views()};
    if (bound.given(3)) target.qualifier = qualifier;
    lint::Folded folded =
        lint::fold(severity.value(), target, directives.items(), record_of, verb_of);
    Ref level(new_str(lint::severity_text(folded.severity)));
    Ref notes(level ? new_str_list(folded.notes) : nullptr);
    if (!notes) return nullptr;
    return PyTuple_Pack(3, level.get(), folded.dropped ? Py_True : Py_False, notes.get());
  });
}

constexpr const char* kSettingsNames[] = {"directives"};
PyObject* kSettingsInterned[std::size(kSettingsNames)] = {};
constexpr Signature kSettings{"lint_settings", kSettingsNames, 1, 1, kSettingsInterned};

PyObject* lint_settings(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs bound;
    RefList directives;
    if (!bind_fastcall(kSettings, args, nargs, kwnames, bound) ||
        !to_directive_list(bound[0], {"lint_settings", "directives"}, directives)) {
      return nullptr;
    }
    const auto pairs = lint::settings(directives.items(), record_of, verb_of);
    return new_list(pairs.size(), [&](std::size_t i) -> PyObject* {
      Ref key(new_str(pairs[i].first));
      Ref value(key ? new_str(pairs[i].second) : nullptr);
      return value ? PyTuple_Pack(2, key.get(), value.get()) : nullptr;
    });
  });
}

}  // namespace

PyMethodDef kLintFoldDef = {
    "lint_fold", as_fastcall(lint_fold), METH_FASTCALL | METH_KEYWORDS,
    "lint_fold(current, directives, names, *, qualifier=None, scopes=None)\n--\n\n"
    "`lint_fold(current, directives, names, *, qualifier=None, scopes=None)` \u2192 `(severity, "
    "dropped,\n"
    "notes)`. Applies the standard lint combine policy (suppress / de-escalate / escalate / note);\n"
    "non-lint actions are inert. `current` \u2208 `\"error\" | \"warning\" | \"info\"`."};

PyMethodDef kLintSettingsDef = {
    "lint_settings", as_fastcall(lint_settings), METH_FASTCALL | METH_KEYWORDS,
    "lint_settings(directives)\n--\n\n"
    "`lint_settings(directives)` \u2192 `[(key, value)]` from every `set:KEY=VALUE` directive, in "
    "order."};

}  // namespace tarnwick::py
