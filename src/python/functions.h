// The module-level functions, one file each; module.cpp registers them.
#pragma once

#include <Python.h>

#include "lint/severity.h"

namespace tarnwick::py {

extern PyMethodDef kParseDef;
extern PyMethodDef kGlobMatchDef;
extern PyMethodDef kGlobMatchAsDef;  // test hook, outside __all__
extern PyMethodDef kExpandDef;
extern PyMethodDef kExpandSourcedDef;
extern PyMethodDef kLintFoldDef;
extern PyMethodDef kLintSettingsDef;
// Private helpers of the package (not in `__all__`), see private_functions.cpp.
extern PyMethodDef kPolicyRestoreDef;
extern PyMethodDef kDirectiveRestoreDef;
extern PyMethodDef kLadderRestoreDef;
extern PyMethodDef kErrorRestoreDef;
extern PyMethodDef kLintEffectDef;
extern PyMethodDef kQuotedDef;
extern PyMethodDef kLiteralDef;
extern PyMethodDef kScopePathDef;
extern PyMethodDef kTrimmedDef;

// The name of `severity` as a new reference to a str made once per process:
// every fold returns one of three.
PyObject* severity_str(lint::Severity severity);
#ifdef TARNWICK_CANARY
extern PyMethodDef kCanaryDef;  // sanitizer self-check builds only, see canary.cpp
#endif

}  // namespace tarnwick::py
