// The module-level functions, one file each; module.cpp registers them.
#pragma once

#include <Python.h>

namespace tarnwick::py {

extern PyMethodDef kParseDef;
extern PyMethodDef kGlobMatchDef;
extern PyMethodDef kExpandDef;
extern PyMethodDef kExpandSourcedDef;
extern PyMethodDef kLintFoldDef;
extern PyMethodDef kLintSettingsDef;

template <class F>
PyCFunction as_fastcall(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace tarnwick::py
