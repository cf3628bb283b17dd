#include "python/directive_type.h"

#include <string>

#include "python/classes.h"
#include "python/convert.h"
#include "python/call.h"
#include "python/errors.h"
#include "python/restore.h"

namespace tarnwick::py {
namespace {

const Directive& record_of(PyObject* self) { return unbox<DirectiveValue>(self).record; }

PyObject* get_action(PyObject* self, void*) { return new_str(record_of(self).action()); }

PyObject* get_kind(PyObject* self, void*) { return new_str_or_none(record_of(self).kind()); }

PyObject* get_name(PyObject* self, void*) { return new_str(record_of(self).name().source()); }

PyObject* get_path(PyObject* self, void*) {
  const Pattern* path = record_of(self).path();
  return new_str_or_none(path ? std::optional<std::string_view>(path->source()) : std::nullopt);
}

PyObject* get_note(PyObject* self, void*) { return new_str_or_none(record_of(self).note()); }

PyObject* directive_str(PyObject* self) {
  return guarded([&] { return new_str(canonical_text(record_of(self))); });
}

PyObject* directive_repr(PyObject* self) {
  return guarded([&] {
    std::string text = "Directive(";
    append_canonical(text, record_of(self));
    text += ')';
    return new_str(text);
  });
}

Signature kMatches{"Directive.matches", {"names", "*", "qualifier", "scopes"}};

PyObject* directive_matches(PyObject* self, Call& call) {
  Call::Texts names;
  std::optional<std::string_view> qualifier;
  Call::Texts scopes;
  if (!call.texts(0, names) || !call.text(1, qualifier) || !call.texts(2, scopes)) return nullptr;
  return PyBool_FromLong(record_of(self).matches({names.span(), qualifier, scopes.span()}));
}

// (restorer, (action, kind, name, path, note)).
PyObject* directive_reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const Directive& d = record_of(self);
    const Pattern* pattern = d.path();
    Ref action(new_str(d.action()));
    Ref kind(action ? new_str_or_none(d.kind()) : nullptr);
    Ref name(kind ? new_str(d.name().source()) : nullptr);
    Ref path(name ? new_str_or_none(pattern ? std::optional<std::string_view>(pattern->source()) : std::nullopt)
                  : nullptr);
    Ref note(path ? new_str_or_none(d.note()) : nullptr);
    if (!note) return nullptr;
    return reduce_with("_directive",
                       PyTuple_Pack(5, action.get(), kind.get(), name.get(), path.get(), note.get()));
  });
}

PyGetSetDef kGetters[] = {
    {"action", get_action, nullptr, "The action token, verbatim.", nullptr},
    {"kind", get_kind, nullptr, "The `<KIND>` filter, or `None` for any kind.", nullptr},
    {"name", get_name, nullptr, "The NAME glob, as written.", nullptr},
    {"path", get_path, nullptr, "The `@PATH` glob, or `None`.", nullptr},
    {"note", get_note, nullptr, "The `=NOTE` text, or `None`.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    method_def<kMatches, directive_matches>(
     "matches",
     "matches($self, names, *, qualifier=None, scopes=None)\n--\n\n"
     "Does this directive apply to a target with these `names` (and optional "
     "`qualifier`/`scopes`)?\n\n"
     "KIND (if set) must equal `qualifier` exactly; NAME must glob-match one of `names`; PATH (if\n"
     "set) must glob-match one of `scopes`."),
    {"__reduce__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(directive_reduce)),
     METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "One parsed directive (`ACTION:[<KIND>]NAME[@PATH][=NOTE]`), open-set: `action` is the raw "
         "token.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_boxed<DirectiveValue>)},
    {Py_tp_str, reinterpret_cast<void*>(directive_str)},
    {Py_tp_repr, reinterpret_cast<void*>(directive_repr)},
    {Py_tp_getset, kGetters},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = boxed_spec<DirectiveValue>("builtins.Directive", kSlots, Py_TPFLAGS_DISALLOW_INSTANTIATION);

PyObject* g_type = nullptr;

}  // namespace

PyObject* directive_type() { return shared_type(g_type, &kSpec); }

PyObject* wrap_directive(Directive&& record) {
  PyObject* type = directive_type();
  if (type == nullptr) return nullptr;
  return new_boxed<DirectiveValue>(type, std::move(record));
}

PyObject* wrap_directive(const DirectiveParts& parts) {
  PyObject* type = directive_type();
  if (type == nullptr) return nullptr;
  return new_boxed<DirectiveValue>(type, parts);
}

bool to_directives(Call& call, std::size_t i, Call::Objects& out) {
  PyObject* type = directive_type();
  if (type == nullptr) return false;
  return call.objects(i, reinterpret_cast<PyTypeObject*>(type), "a sequence of Directive", out);
}

}  // namespace tarnwick::py
