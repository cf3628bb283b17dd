#include "python/policy_type.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/scope_path.h"
#include "lint/lint_fold.h"
#include "lint/policy.h"
#include "python/call.h"
#include "python/classes.h"
#include "python/exit_gate.h"
#include "python/convert.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"
#include "python/ladder_type.h"
#include "python/restore.h"

namespace tarnwick::py {
namespace {

// A Policy instance: the core policy and what it was built from, kept to
// hand back (directives with their origins) and to pickle.
struct PolicyValue {
  explicit PolicyValue(lint::Policy p) : policy(std::move(p)) {}
  lint::Policy policy;
  std::vector<Ref> directives;  // the Directive objects, in order: they own the policy's records
  std::vector<Ref> origins;     // (file, line) or None, one per directive
  Ref ladder;                   // the Ladder folded onto; null: the severities
  std::vector<std::pair<std::string, std::int32_t>> steps;
  std::vector<std::string> drop;
  Ref root;                        // the root as given (a str), or null
  std::vector<std::string> roots;  // in root_form: none, or the root
};

const PolicyValue& value_of(PyObject* self) { return unbox<PolicyValue>(self); }

// A new Ladder of the three severities, most severe first.
PyObject* severity_ladder() {
  PyObject* type = ladder_type();
  Ref levels(type ? PyList_New(0) : nullptr);
  if (!levels) return nullptr;
  for (std::size_t i = 0; i < lint::kSeverityCount; ++i) {
    Ref level(severity_str(static_cast<lint::Severity>(i)));
    if (!level || PyList_Append(levels.get(), level.get()) < 0) return nullptr;
  }
  Ref args(PyTuple_Pack(1, levels.get()));
  return args ? PyObject_Call(type, args.get(), nullptr) : nullptr;
}

constexpr const char* kItems = "a sequence of Directive or (Directive, origin)";

// `origin` is None or (file, line): a str and a non-negative int.
bool to_origin(Call& call, PyObject* item, PyObject* origin, std::optional<lint::Origin>& out) {
  if (origin == Py_None) return true;
  if (!PyTuple_Check(origin) || PyTuple_Size(origin) != 2) return call.wrong_item(0, kItems, item);
  PyObject* file = PyTuple_GetItem(origin, 0);
  PyObject* line = PyTuple_GetItem(origin, 1);
  if (!PyUnicode_Check(file) || !PyLong_Check(line)) return call.wrong_item(0, kItems, item);
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(file, &size);
  if (text == nullptr) return false;
  const unsigned long long number = PyLong_AsUnsignedLongLong(line);
  if (number == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = lint::Origin{std::string(text, static_cast<std::size_t>(size)), number};
  return true;
}

// Each item (owned by the call; a tuple holds its own items) to an entry.
bool to_entries(Call& call, const Call::Objects& items, PolicyValue& value,
                std::vector<lint::PolicyEntry>& entries) {
  PyObject* type = directive_type();
  if (type == nullptr) return false;
  entries.reserve(items.size());
  for (PyObject* item : items.span()) {
    PyObject* directive = item;
    PyObject* origin = Py_None;
    if (PyTuple_Check(item)) {
      if (PyTuple_Size(item) != 2) return call.wrong_item(0, kItems, item);
      directive = PyTuple_GetItem(item, 0);
      origin = PyTuple_GetItem(item, 1);
    }
    if (Py_TYPE(directive) != reinterpret_cast<PyTypeObject*>(type)) {
      return call.wrong_item(0, kItems, item);
    }
    std::optional<lint::Origin> where;
    if (!to_origin(call, item, origin, where)) return false;
    const DirectiveValue& d = directive_value(directive);
    entries.push_back({&d.record, std::move(where), d.verb, {}});
    value.directives.push_back(Ref::borrow(directive));
    value.origins.push_back(Ref::borrow(origin));
  }
  return true;
}

// The root in root_form, made absolute against the working directory by
// os.path.abspath when it is relative.
// An exact str of the converted text is handed over: os.path's Python code
// would compare a str subclass with its own methods.
bool to_roots(std::string_view root, std::vector<std::string>& out) {
  Ref text(new_str(root));
  Ref module(text ? PyImport_ImportModule("os.path") : nullptr);
  Ref absolute(module ? PyObject_CallMethod(module.get(), "abspath", "O", text.get()) : nullptr);
  if (!absolute) return false;
  if (!PyUnicode_Check(absolute.get())) {
    PyErr_SetString(PyExc_TypeError, "Policy(): os.path.abspath(root) did not return a str");
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(absolute.get(), &size);
  if (utf8 == nullptr) return false;
  out.push_back(root_form(std::string_view(utf8, static_cast<std::size_t>(size))));
  return true;
}

Signature kNew{"Policy", {"directives", "*", "ladder", "steps", "drop", "root"}};

PyObject* policy_new(PyObject* type, Call& call) {
  Call::Objects items;
  Call::Steps steps;
  Call::TextSet drop;
  std::optional<std::string_view> root;
  if (!call.objects(0, nullptr, kItems, items)) return nullptr;
  PyObject* ladder = call.given(1) ? call.object(1) : nullptr;
  PyObject* ladders = ladder_type();
  if (ladders == nullptr) return nullptr;
  if (ladder != nullptr && Py_TYPE(ladder) != reinterpret_cast<PyTypeObject*>(ladders)) {
    call.wrong_type(1, "Ladder or None", ladder);
    return nullptr;
  }
  if (!call.steps(2, steps) || !call.text_set(3, drop) || !call.text(4, root)) return nullptr;
  // Steps or drop without a ladder: the caller's verbs on the severities.
  Ref severities;
  if (ladder == nullptr && (call.given(2) || call.given(3))) {
    severities = Ref(severity_ladder());
    if (!severities) return nullptr;
    ladder = severities.get();
  }
  std::vector<lint::PolicyEntry> entries;
  PolicyValue value(lint::Policy::lint({}));
  if (!to_entries(call, items, value, entries)) return nullptr;
  if (root && !to_roots(*root, value.roots)) return nullptr;
  if (root) value.root = Ref::borrow(call.object(4));
  if (ladder == nullptr) {
    value.policy = lint::Policy::lint(std::move(entries));
  } else {
    for (const StepEntry& e : steps.span()) value.steps.emplace_back(e.verb, e.step);
    for (std::string_view verb : drop.members.span()) value.drop.emplace_back(verb);
    value.ladder = Ref::borrow(ladder);
    const StepTable step_table(steps.span());
    const VerbSet drop_set(drop.members.span());
    value.policy = lint::Policy::ladder(std::move(entries), step_table, drop_set);
  }
  return new_boxed<PolicyValue>(type, std::move(value));
}

// The scopes as one form (see scope_path.h), without repeats. Rewritten
// scopes live in `store`, reserved once so that views into it stay put.
std::span<const std::string_view> scope_forms(const PolicyValue& v, std::span<std::string_view> scopes,
                                              std::vector<std::string>& store) {
  for (std::string_view& scope : scopes) {
    std::string scratch;
    const std::string_view form = scope_path(scope, v.roots, scratch);
    if (form.data() == scope.data() && form.size() == scope.size()) continue;
    if (store.empty()) store.reserve(scopes.size());
    store.push_back(std::move(scratch));
    scope = store.back();
  }
  return scopes.first(lint::drop_repeats(scopes));
}

std::span<const std::string_view> distinct(std::span<std::string_view> names) {
  return names.first(lint::drop_repeats(names));
}

Signature kFold{"Policy.fold", {"current", "names", "*", "qualifier", "scopes", "notes"}};

PyObject* policy_fold(PyObject* self, Call& call) {
  std::string_view current;
  Call::Texts names;
  std::optional<std::string_view> qualifier;
  Call::Texts scopes;
  bool notes = true;
  if (!call.text(0, current) || !call.texts(1, names) || !call.text(2, qualifier) ||
      !call.texts(3, scopes) || !call.flag(4, notes)) {
    return nullptr;
  }
  const PolicyValue& v = value_of(self);
  std::optional<lint::Severity> severity;
  if (!v.ladder) {
    auto parsed = lint::severity_from_text(current);
    if (!parsed) return raise_directive_error(parsed.error());
    severity = parsed.value();
  }
  std::vector<std::string> store;
  const MatchTarget target{distinct(names.span()), qualifier, scope_forms(v, scopes.span(), store)};
  Tally tally = v.policy.fold(target, notes);
  const std::int32_t steps = clamp_steps(tally.steps);
  Ref level;
  if (severity) {
    const std::size_t rung =
        saturating_move(static_cast<std::size_t>(*severity), lint::kSeverityCount, steps);
    level = Ref(severity_str(static_cast<lint::Severity>(rung)));
  } else {
    const std::optional<std::size_t> rung = core_ladder(v.ladder.get()).step_rung(current, steps);
    level = rung ? Ref::borrow(ladder_level_str(v.ladder.get(), *rung)) : Ref(new_str(current));
  }
  Ref note_list(level ? new_str_list(tally.notes) : nullptr);
  if (!note_list) return nullptr;
  return PyTuple_Pack(3, level.get(), tally.dropped ? Py_True : Py_False, note_list.get());
}

Signature kSettings{"Policy.settings", {"*", "qualifier", "scopes"}};

PyObject* policy_settings(PyObject* self, Call& call) {
  std::optional<std::string_view> qualifier;
  Call::Texts scopes;
  if (!call.text(0, qualifier) || !call.texts(1, scopes)) return nullptr;
  const PolicyValue& v = value_of(self);
  std::vector<std::string> store;
  std::optional<std::span<const std::string_view>> where;
  if (call.given(1)) where = scope_forms(v, scopes.span(), store);
  const std::vector<std::size_t> found = v.policy.settings(qualifier, where);
  const auto entries = v.policy.entries();
  return new_list(found.size(), [&](std::size_t i) -> PyObject* {
    const Directive& d = *entries[found[i]].record;
    Ref key(new_str(d.name().source()));
    Ref note(key ? new_str(d.note().value_or(std::string_view())) : nullptr);
    return note ? PyTuple_Pack(2, key.get(), note.get()) : nullptr;
  });
}

PyObject* pair_at(const PolicyValue& v, std::size_t i) {
  return PyTuple_Pack(2, v.directives[i].get(), v.origins[i].get());
}

Signature kUnused{"Policy.unused", {}};

PyObject* policy_unused(PyObject* self, Call&) {
  const PolicyValue& v = value_of(self);
  const std::vector<std::size_t> unused = v.policy.unused();
  return new_list(unused.size(), [&](std::size_t i) { return pair_at(v, unused[i]); });
}

PyObject* all_pairs(const PolicyValue& v) {
  return new_list(v.directives.size(), [&](std::size_t i) { return pair_at(v, i); });
}

PyObject* get_directives(PyObject* self, void*) { return guarded([&] { return all_pairs(value_of(self)); }); }

PyObject* steps_dict(const PolicyValue& v) {
  Ref dict(PyDict_New());
  for (const auto& [verb, step] : v.steps) {
    Ref key(new_str(verb));
    Ref count(key ? PyLong_FromLong(step) : nullptr);
    if (!count || PyDict_SetItem(dict.get(), key.get(), count.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* drop_set(const PolicyValue& v) {
  Ref list(new_str_list(v.drop));
  return list ? PyFrozenSet_New(list.get()) : nullptr;
}

// (restorer, (directives, ladder, steps, drop, root)): the used marks are
// not carried over, as a copy has matched nothing yet.
PyObject* policy_reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const PolicyValue& v = value_of(self);
    Ref pairs(all_pairs(v));
    Ref steps(pairs && v.ladder ? steps_dict(v) : Py_NewRef(Py_None));
    Ref drop(steps && v.ladder ? drop_set(v) : Py_NewRef(Py_None));
    if (!drop) return nullptr;
    PyObject* ladder = v.ladder ? v.ladder.get() : Py_None;
    PyObject* root = v.root ? v.root.get() : Py_None;
    return reduce_with("_policy", PyTuple_Pack(5, pairs.get(), ladder, steps.get(), drop.get(), root));
  });
}

Signature kFromValues{"Policy.from_values", {"values", "*", "actions", "ladder", "steps", "drop", "root"}};

// Expands each `-D` value with its origins (expand_sourced), then builds
// the policy from them with the other keywords.
PyObject* policy_from_values(PyObject* type, Call& call) {
  Call::Texts values;
  if (!call.texts(0, values)) return nullptr;
  // expand_sourced reads through its module's exit gate: find this
  // interpreter's module object (a gate that never closes without one).
  Ref module(PyImport_ImportModule("tarnwick._tarnwick"));
  if (!module) PyErr_Clear();
  Ref expand(PyCFunction_NewEx(&kExpandSourcedDef, is_own_module(module.get()) ? module.get() : nullptr, nullptr));
  Ref options(expand ? PyDict_New() : nullptr);
  Ref items(options ? PyList_New(0) : nullptr);
  if (!items) return nullptr;
  if (call.given(1) && PyDict_SetItemString(options.get(), "actions", call.object(1)) < 0) return nullptr;
  for (std::string_view value : values.span()) {
    Ref text(new_str(value));
    Ref args(text ? PyTuple_Pack(1, text.get()) : nullptr);
    Ref found(args ? PyObject_Call(expand.get(), args.get(), options.get()) : nullptr);
    if (!found) return nullptr;
    // A list of our own making, which no other code can reach.
    for (Py_ssize_t i = 0; i < PyList_Size(found.get()); ++i) {
      if (PyList_Append(items.get(), PyList_GetItem(found.get(), i)) < 0) return nullptr;
    }
  }
  Ref keywords(PyDict_New());
  if (!keywords) return nullptr;
  const char* names[] = {"ladder", "steps", "drop", "root"};
  for (std::size_t j = 0; j < 4; ++j) {
    if (call.given(j + 2) && PyDict_SetItemString(keywords.get(), names[j], call.object(j + 2)) < 0) {
      return nullptr;
    }
  }
  Ref args(PyTuple_Pack(1, items.get()));
  return args ? PyObject_Call(type, args.get(), keywords.get()) : nullptr;
}

template <PyMethodDef (*make)()>
PyMethodDef with_flag(int flag) {
  PyMethodDef def = make();
  def.ml_flags |= flag;
  return def;
}

PyMethodDef from_values_def() {
  return method_def<kFromValues, policy_from_values>(
      "from_values",
      "from_values(values, *, actions=None, ladder=None, steps=None, drop=None, root=None)\n--\n\n"
      "A policy from `-D` values (inline directives, `@file`, `@-`), expanded like `expand`\n"
      "with the directives' origins kept; the other keywords are the constructor's.");
}

PyGetSetDef kGetters[] = {
    {"directives", get_directives, nullptr,
     "Every directive with its origin, `[(directive, origin)]`, in order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    method_def<kFold, policy_fold>(
        "fold",
        "fold($self, current, names, *, qualifier=None, scopes=None, notes=True)\n--\n\n"
        "Fold the directives that match a finding onto `current`, returning\n"
        "`(level, dropped, notes)`: the lint fold (`lint_fold`), or with `ladder=` that ladder's\n"
        "fold over the verbs its `steps` and `drop` name. Scopes are read as root-relative paths."),
    method_def<kSettings, policy_settings>(
        "settings",
        "settings($self, *, qualifier=None, scopes=None)\n--\n\n"
        "`[(key, value)]` of the `set:` directives that apply to a finding of this kind and these\n"
        "scopes (a `set:` with `<KIND>` or `@PATH` applies where they match); with neither,\n"
        "every one, as `lint_settings` gives them."),
    method_def<kUnused, policy_unused>(
        "unused",
        "unused($self)\n--\n\n"
        "`[(directive, origin)]` of the directives that no fold or settings query has matched yet."),
    {"__reduce__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(policy_reduce)), METH_NOARGS,
     nullptr},
    with_flag<from_values_def>(METH_CLASS),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Policy(directives, *, ladder=None, steps=None, drop=None, root=None)\n--\n\n"
         "Directives compiled once for the findings of a tool: folds and settings per finding,\n"
         "paths read relative to `root`, and the directives that matched nothing. `directives`\n"
         "holds `Directive` objects or `(directive, origin)` pairs as `expand_sourced` gives.\n"
         "With none of `ladder`, `steps`, `drop` it folds the lint verbs onto the severities;\n"
         "with any, only the verbs `steps` and `drop` name, onto `ladder` (default: the severities).")},
    {Py_tp_new, reinterpret_cast<void*>(new_entry<kNew, policy_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_boxed<PolicyValue>)},
    {Py_tp_getset, kGetters},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = boxed_spec<PolicyValue>("builtins.Policy", kSlots);

PyObject* g_type = nullptr;

}  // namespace

PyObject* policy_type() { return shared_type(g_type, &kSpec); }

bool is_lint_policy(PyObject* policy) {
  PyObject* type = policy_type();
  if (type == nullptr) {
    PyErr_Clear();
    return false;
  }
  return Py_TYPE(policy) == reinterpret_cast<PyTypeObject*>(type) && !value_of(policy).ladder &&
         value_of(policy).roots.empty();
}

lint::Folded lint_policy_fold(PyObject* policy, lint::Severity current, std::span<std::string_view> names,
                              std::optional<std::string_view> qualifier, std::span<std::string_view> scopes,
                              const lint::Origin*& dropped_by) {
  const PolicyValue& v = value_of(policy);
  std::vector<std::string> store;
  const MatchTarget target{distinct(names), qualifier, scope_forms(v, scopes, store)};
  Tally tally = v.policy.fold(target, true);
  dropped_by = nullptr;
  if (tally.first_drop) {
    const std::optional<lint::Origin>& origin = v.policy.entries()[*tally.first_drop].origin;
    if (origin) dropped_by = &*origin;  // owned by the policy, as long as it lives
  }
  const std::size_t rung =
      saturating_move(static_cast<std::size_t>(current), lint::kSeverityCount, clamp_steps(tally.steps));
  return {static_cast<lint::Severity>(rung), tally.dropped, std::move(tally.notes)};
}

}  // namespace tarnwick::py
