#include "python/restore.h"

#include "python/ref.h"

namespace tarnwick::py {

PyObject* reduce_with(const char* name, PyObject* args) {
  Ref owned_args(args);
  if (!owned_args) return nullptr;
  Ref module(PyImport_ImportModule("tarnwick._tarnwick"));
  Ref restorer(module ? PyObject_GetAttrString(module.get(), name) : nullptr);
  if (!restorer) return nullptr;
  return PyTuple_Pack(2, restorer.get(), owned_args.get());
}

}  // namespace tarnwick::py
