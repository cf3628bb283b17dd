#include "python/classes.h"

namespace tarnwick::py {

PyObject* shared_type(PyObject*& slot, PyType_Spec* spec) {
  if (slot == nullptr) {
    PyObject* created = PyType_FromSpec(spec);
    if (created == nullptr) return nullptr;
    // Creation may run Python code; the first finished type wins.
    if (slot == nullptr) {
      slot = created;
    } else {
      Py_DECREF(created);
    }
  }
  return slot;
}

}  // namespace tarnwick::py
