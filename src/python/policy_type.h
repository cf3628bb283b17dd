// The `Policy` class: directives with their origins, compiled once for the
// findings of a host tool (see lint/policy.h).
#pragma once

#include <Python.h>

#include <optional>
#include <span>
#include <string_view>

#include "lint/lint_fold.h"
#include "lint/policy.h"

namespace tarnwick::py {

// The class object, created on first use. Borrowed; null on failure.
PyObject* policy_type();

// Whether `policy` is a Policy that folds the lint verbs onto the
// severities and reads scopes as given (made without ladder, steps, drop
// or root).
bool is_lint_policy(PyObject* policy);

// What `policy.fold(current, names, qualifier=..., scopes=...)` gives, for
// a policy that `is_lint_policy`: runs no Python code. Reorders `names` and
// `scopes`. `dropped_by` gets the origin of the first directive that
// drops the finding, or null when none does or that one is inline.
lint::Folded lint_policy_fold(PyObject* policy, lint::Severity current, std::span<std::string_view> names,
                              std::optional<std::string_view> qualifier, std::span<std::string_view> scopes,
                              const lint::Origin*& dropped_by);

}  // namespace tarnwick::py
