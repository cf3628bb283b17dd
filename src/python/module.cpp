// The extension module `_tarnwick`: multi-phase initialisation with a single
// exec step that registers, in order, every public name and lists it in
// `__all__` (all but expand_sourced, Policy, _JsonScanner and the private
// helpers, which the package exports or uses itself, and _glob_match_as, a
// hook for the tests).
#include <Python.h>

#include "python/directive_type.h"
#include "python/errors.h"
#include "python/exit_gate.h"
#include "python/functions.h"
#include "python/json_scanner_type.h"
#include "python/result_folder_type.h"
#include "python/ladder_type.h"
#include "python/policy_type.h"
#include "python/ref.h"

namespace tarnwick::py {
namespace {

PyObject* function(PyObject* module, PyMethodDef* def) {
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return nullptr;
  return PyCFunction_NewEx(def, module, module_name.get());
}

PyObject* shared(PyObject* borrowed) {
  Py_XINCREF(borrowed);
  return borrowed;
}

struct Registration {
  const char* name;
  PyObject* (*make)(PyObject* module);  // a new reference, or null
  bool listed = true;                   // in `__all__`
};

const Registration kRegistrations[] = {
    {"parse", [](PyObject* m) { return function(m, &kParseDef); }},
    {"glob_match", [](PyObject* m) { return function(m, &kGlobMatchDef); }},
    {"expand", [](PyObject* m) { return function(m, &kExpandDef); }},
    {"lint_fold", [](PyObject* m) { return function(m, &kLintFoldDef); }},
    {"lint_settings", [](PyObject* m) { return function(m, &kLintSettingsDef); }},
    {"Directive", [](PyObject*) { return shared(directive_type()); }},
    {"Ladder", [](PyObject*) { return shared(ladder_type()); }},
    {"DirectiveError", [](PyObject*) { return shared(directive_error()); }},
    {"expand_sourced", [](PyObject* m) { return function(m, &kExpandSourcedDef); }, false},
    {"_JsonScanner", [](PyObject*) { return shared(json_scanner_type()); }, false},
    {"_ResultFolder", [](PyObject*) { return shared(result_folder_type()); }, false},
    {"Policy", [](PyObject*) { return shared(policy_type()); }, false},
    {"_policy", [](PyObject* m) { return function(m, &kPolicyRestoreDef); }, false},
    {"_directive", [](PyObject* m) { return function(m, &kDirectiveRestoreDef); }, false},
    {"_ladder", [](PyObject* m) { return function(m, &kLadderRestoreDef); }, false},
    {"_directive_error", [](PyObject* m) { return function(m, &kErrorRestoreDef); }, false},
    {"_lint_effect", [](PyObject* m) { return function(m, &kLintEffectDef); }, false},
    {"_quoted", [](PyObject* m) { return function(m, &kQuotedDef); }, false},
    {"_literal", [](PyObject* m) { return function(m, &kLiteralDef); }, false},
    {"_scope_path", [](PyObject* m) { return function(m, &kScopePathDef); }, false},
    {"_trimmed", [](PyObject* m) { return function(m, &kTrimmedDef); }, false},
    {"_glob_match_as", [](PyObject* m) { return function(m, &kGlobMatchAsDef); }, false},
#ifdef TARNWICK_CANARY  // the sanitizer self-check, see canary.cpp
    {"_canary", [](PyObject* m) { return function(m, &kCanaryDef); }, false},
#endif
};

int exec_module(PyObject* module) {
  if (exit_gate_init(module) < 0) return -1;
  Ref all(PyList_New(0));
  if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return -1;
  for (const Registration& r : kRegistrations) {
    Ref object(r.make(module));
    Ref name(object ? PyUnicode_FromString(r.name) : nullptr);
    if (!name || PyModule_AddObjectRef(module, r.name, object.get()) < 0 ||
        (r.listed && PyList_Append(all.get(), name.get()) < 0)) {
      return -1;
    }
  }
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_tarnwick",
    .m_doc = "",
    .m_size = sizeof(ExitGateState),
    .m_methods = nullptr,
    .m_slots = kSlots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = exit_gate_free,
};

}  // namespace

bool is_own_module(PyObject* object) {
  return object != nullptr && PyModule_Check(object) && PyModule_GetDef(object) == &kModule;
}

}  // namespace tarnwick::py

PyMODINIT_FUNC PyInit__tarnwick() { return PyModuleDef_Init(&tarnwick::py::kModule); }
