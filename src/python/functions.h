// The module-level functions, one file each; module.cpp registers them.
#pragma once

#include <Python.h>

namespace tarnwick::py {

extern PyMethodDef kParseDef;
extern PyMethodDef kGlobMatchDef;
extern PyMethodDef kGlobMatchAsDef;  // test hook, outside __all__
extern PyMethodDef kExpandDef;
extern PyMethodDef kExpandSourcedDef;
extern PyMethodDef kLintFoldDef;
extern PyMethodDef kLintSettingsDef;
#ifdef TARNWICK_CANARY
extern PyMethodDef kCanaryDef;  // sanitizer self-check builds only, see canary.cpp
#endif

}  // namespace tarnwick::py
