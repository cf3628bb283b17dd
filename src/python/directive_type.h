// The `Directive` class: a read-only view of one parsed directive whose
// action is the raw token. Instances come only from `parse` and `expand`.
#pragma once

#include <Python.h>

#include <optional>

#include "core/directive.h"
#include "core/parse.h"
#include "lint/lint_action.h"
#include "python/call.h"
#include "python/classes.h"

namespace tarnwick::py {

// What a Directive instance owns: the record, and its lint verb derived
// once when the record is wrapped.
struct DirectiveValue {
  explicit DirectiveValue(Directive&& r)
      : record(std::move(r)), verb(lint::lint_action_from_token(record.action())) {}
  // Built in place from the parts, with no record moved on the way.
  explicit DirectiveValue(const DirectiveParts& parts)
      : record(build_directive(parts)), verb(lint::lint_action_from_token(record.action())) {}
  Directive record;
  std::optional<lint::LintAction> verb;
};

// The class object, created on first use. Borrowed; null on failure.
PyObject* directive_type();

// A new Directive instance owning `record`.
PyObject* wrap_directive(Directive&& record);
// A new Directive instance built from well-formed `parts`.
PyObject* wrap_directive(const DirectiveParts& parts);

// Inline: the folds reach every directive's record through it.
inline const DirectiveValue& directive_value(PyObject* directive) {
  return unbox<DirectiveValue>(directive);
}

// Parameter `i` of `call`: a sequence (not a str) of Directive instances,
// referenced in order.
bool to_directives(Call& call, std::size_t i, Call::Objects& out);

}  // namespace tarnwick::py
