// The module's private functions: the restorers that pickling names, and
// what the package's own commands ask of the core (a verb's lint effect,
// the quoted form, literal globs, scope paths) instead of keeping copies.
#include <optional>
#include <string>
#include <vector>

#include "core/literal.h"
#include "core/quote.h"
#include "core/scope_path.h"
#include "core/unicode.h"
#include "lint/lint_action.h"
#include "lint/lint_fold.h"
#include "python/call.h"
#include "python/convert.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"
#include "python/ladder_type.h"
#include "python/policy_type.h"

namespace tarnwick::py {
namespace {

Signature kPolicyRestore{"_policy", {"directives", "ladder", "steps", "drop", "root"}};

// Policy(directives, ladder=..., ...) with the keywords that are not None.
PyObject* policy_restore(PyObject*, Call& call) {
  PyObject* type = policy_type();
  Ref keywords(type ? PyDict_New() : nullptr);
  if (!keywords) return nullptr;
  const char* names[] = {"ladder", "steps", "drop", "root"};
  for (std::size_t j = 0; j < 4; ++j) {
    if (call.given(j + 1) && call.object(j + 1) != Py_None &&
        PyDict_SetItemString(keywords.get(), names[j], call.object(j + 1)) < 0) {
      return nullptr;
    }
  }
  Ref args(PyTuple_Pack(1, call.object(0)));
  return args ? PyObject_Call(type, args.get(), keywords.get()) : nullptr;
}

Signature kDirectiveRestore{"_directive", {"action", "kind", "name", "path", "note"}};

// A Directive from its fields as the attributes give them.
PyObject* directive_restore(PyObject*, Call& call) {
  std::string_view action, name;
  std::optional<std::string_view> kind, path, note;
  // Positional, so None must be read here: only a keyword-only None means absent.
  auto optional_text = [&](std::size_t i, std::optional<std::string_view>& out) {
    if (call.object(i) == Py_None) return true;
    std::string_view text;
    if (!call.text(i, text)) return false;
    out = text;
    return true;
  };
  if (!call.text(0, action) || !optional_text(1, kind) || !call.text(2, name) ||
      !optional_text(3, path) || !optional_text(4, note)) {
    return nullptr;
  }
  auto own = [](std::optional<std::string_view> t) {
    return t ? std::optional<std::string>(std::string(*t)) : std::nullopt;
  };
  Directive record{std::string(action), own(kind), Pattern::compile(name),
                   path ? std::optional<Pattern>(Pattern::compile(*path)) : std::nullopt, own(note)};
  return wrap_directive(std::move(record));
}

Signature kLadderRestore{"_ladder", {"levels"}};

PyObject* ladder_restore(PyObject*, Call& call) {
  PyObject* type = ladder_type();
  Ref args(type ? PyTuple_Pack(1, call.object(0)) : nullptr);
  return args ? PyObject_Call(type, args.get(), nullptr) : nullptr;
}

// DirectiveError(*args).
PyObject* error_restore(PyObject*, PyObject* args) {
  PyObject* type = directive_error();
  return type ? PyObject_Call(type, args, nullptr) : nullptr;
}

Signature kLintEffect{"_lint_effect", {"action"}};

constexpr const char* kVerbNames[] = {"suppress", "deescalate", "escalate", "note", "set"};

// (verb, step, drops) of a lint verb in any spelling, or None.
PyObject* lint_effect_of(PyObject*, Call& call) {
  std::string_view action;
  if (!call.text(0, action)) return nullptr;
  const std::optional<lint::LintAction> verb = lint::lint_action_from_token(action);
  if (!verb) Py_RETURN_NONE;
  const Effect effect = lint::lint_effect(verb);
  Ref name(new_str(kVerbNames[static_cast<std::size_t>(*verb)]));
  Ref step(name ? PyLong_FromLong(effect.step) : nullptr);
  if (!step) return nullptr;
  return PyTuple_Pack(3, name.get(), step.get(), effect.drops ? Py_True : Py_False);
}

Signature kQuoted{"_quoted", {"text"}};

PyObject* quoted_of(PyObject*, Call& call) {
  std::string_view text;
  if (!call.text(0, text)) return nullptr;
  return new_str(quoted(text));
}

Signature kLiteral{"_literal", {"pattern"}};

PyObject* literal_of(PyObject*, Call& call) {
  std::string_view pattern;
  if (!call.text(0, pattern)) return nullptr;
  const std::optional<std::string> text = literal_text(pattern);
  return new_str_or_none(text ? std::optional<std::string_view>(*text) : std::nullopt);
}

Signature kScopePath{"_scope_path", {"path", "roots"}};

PyObject* scope_path_of(PyObject*, Call& call) {
  std::string_view path;
  Call::Texts roots;
  if (!call.text(0, path) || !call.texts(1, roots)) return nullptr;
  std::vector<std::string> forms;
  for (std::string_view root : roots.span()) forms.push_back(root_form(root));
  std::string scratch;
  return new_str(scope_path(path, forms, scratch));
}

Signature kTrimmed{"_trimmed", {"text"}};

// The text as the parser trims a token: White_Space removed from both ends.
PyObject* trimmed_of(PyObject*, Call& call) {
  std::string_view text;
  if (!call.text(0, text)) return nullptr;
  return new_str(unicode::trim(text));
}

}  // namespace

PyMethodDef kTrimmedDef = method_def<kTrimmed, trimmed_of>(
    "_trimmed", "_trimmed(text)\n--\n\n`text` without the White_Space at its ends, as the parser trims.");
PyMethodDef kPolicyRestoreDef = method_def<kPolicyRestore, policy_restore>(
    "_policy", "_policy(directives, ladder, steps, drop, root)\n--\n\nRebuilds a pickled Policy.");
PyMethodDef kDirectiveRestoreDef = method_def<kDirectiveRestore, directive_restore>(
    "_directive", "_directive(action, kind, name, path, note)\n--\n\nRebuilds a pickled Directive.");
PyMethodDef kLadderRestoreDef = method_def<kLadderRestore, ladder_restore>(
    "_ladder", "_ladder(levels)\n--\n\nRebuilds a pickled Ladder.");
PyMethodDef kErrorRestoreDef = {"_directive_error", error_restore, METH_VARARGS,
                                "Rebuilds a pickled DirectiveError."};
PyMethodDef kLintEffectDef = method_def<kLintEffect, lint_effect_of>(
    "_lint_effect",
    "_lint_effect(action)\n--\n\n"
    "`(verb, step, drops)` of a lint verb in any spelling the folds accept (verb one of\n"
    "\"suppress\", \"deescalate\", \"escalate\", \"note\", \"set\"), or None.");
PyMethodDef kQuotedDef = method_def<kQuoted, quoted_of>(
    "_quoted", "_quoted(text)\n--\n\nThe quoted form that messages show a text in.");
PyMethodDef kLiteralDef = method_def<kLiteral, literal_of>(
    "_literal", "_literal(pattern)\n--\n\nThe only text a glob matches, or None.");
PyMethodDef kScopePathDef = method_def<kScopePath, scope_path_of>(
    "_scope_path",
    "_scope_path(path, roots)\n--\n\n"
    "`path` as the one root-relative `/` form that policies match scopes in.");

}  // namespace tarnwick::py
