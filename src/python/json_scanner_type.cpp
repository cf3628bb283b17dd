#include "python/json_scanner_type.h"

#include <utility>
#include <vector>

#include "core/json_scan.h"
#include "python/call.h"
#include "python/classes.h"

namespace tarnwick::py {
namespace {

using json::JsonScanner;
using json::ScanError;
using json::ScanEvent;

PyObject* g_type = nullptr;

struct ScannerValue {
  explicit ScannerValue(std::uint32_t depth) : scanner(depth) {}
  JsonScanner scanner;
  bool busy = false;  // a finalizer run while a list is built may call back in
};

ScannerValue& value_of(PyObject* self) { return reinterpret_cast<Boxed<ScannerValue>*>(self)->value; }

Signature kNew{"_JsonScanner", {"report_depth"}};

PyObject* scanner_new(PyObject* type, Call& call) {
  std::int32_t depth = 0;
  if (!call.int32(0, depth)) return nullptr;
  if (depth < 0) {
    PyErr_SetString(PyExc_ValueError, "report_depth must not be negative");
    return nullptr;
  }
  return new_boxed<ScannerValue>(type, static_cast<std::uint32_t>(depth));
}

// ValueError(message, path, offset, too_deep)
PyObject* raise(const ScanError& e) {
  Ref message(PyUnicode_DecodeUTF8(e.message.data(), static_cast<Py_ssize_t>(e.message.size()), "replace"));
  Ref path(message ? PyUnicode_DecodeUTF8(e.path.data(), static_cast<Py_ssize_t>(e.path.size()), "replace")
                   : nullptr);
  Ref args(path ? Py_BuildValue("(OOKO)", message.get(), path.get(),
                                static_cast<unsigned long long>(e.offset), e.too_deep ? Py_True : Py_False)
                : nullptr);
  if (args) PyErr_SetObject(PyExc_ValueError, args.get());
  return nullptr;
}

PyObject* event_tuple(const ScanEvent& e) {
  return Py_BuildValue("(IKLLKKKO)", static_cast<unsigned int>(e.depth),
                       static_cast<unsigned long long>(e.index), static_cast<long long>(e.key_start),
                       static_cast<long long>(e.key_end), static_cast<unsigned long long>(e.start),
                       static_cast<unsigned long long>(e.end),
                       static_cast<unsigned long long>(e.children), e.plain ? Py_True : Py_False);
}

PyObject* busy_error() {
  PyErr_SetString(PyExc_RuntimeError, "_JsonScanner is already in use");
  return nullptr;
}

// The events as a list of tuples. Building it may run a finalizer, which
// may call this scanner again: `busy` refuses that.
PyObject* event_list(ScannerValue& value, const std::vector<ScanEvent>& events) {
  value.busy = true;
  Ref list(PyList_New(static_cast<Py_ssize_t>(events.size())));
  for (std::size_t i = 0; list && i < events.size(); ++i) {
    PyObject* item = event_tuple(events[i]);
    if (item == nullptr) {
      list = Ref();
      break;
    }
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  value.busy = false;
  return list.release();
}

PyObject* scanner_feed(PyObject* self, PyObject* data) {
  return guarded([&]() -> PyObject* {
    if (!PyBytes_Check(data)) {
      PyErr_SetString(PyExc_TypeError, "_JsonScanner.feed() argument must be bytes");
      return nullptr;
    }
    ScannerValue& value = value_of(self);
    if (value.busy) return busy_error();
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data, &bytes, &size) < 0) return nullptr;
    // The scan runs no Python code: `data` (owned by our caller) stays put.
    std::vector<ScanEvent> events;
    if (auto error = value.scanner.feed({bytes, static_cast<std::size_t>(size)}, events)) {
      return raise(*error);
    }
    return event_list(value, events);
  });
}

PyObject* scanner_finish(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    ScannerValue& value = value_of(self);
    if (value.busy) return busy_error();
    std::vector<ScanEvent> events;
    if (auto error = value.scanner.finish(events)) return raise(*error);
    return event_list(value, events);
  });
}

PyMethodDef kMethods[] = {
    {"feed", scanner_feed, METH_O,
     "feed($self, data, /)\n--\n\n"
     "Scan the next bytes; the values they complete at or above the reported depth, as\n"
     "`(depth, index, key_start, key_end, start, end, children, plain)` tuples. A fault\n"
     "raises `ValueError(message, path, offset, too_deep)`."},
    {"finish", scanner_finish, METH_NOARGS,
     "finish($self, /)\n--\n\nThe end of the input: raises as `feed` unless one whole value was fed;\n"
     "the values completed at the end (a number), as `feed` gives them."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("_JsonScanner(report_depth)\n--\n\n"
                                  "Checks JSON fed in chunks and reports where the values down to "
                                  "`report_depth` begin and end (private: the SARIF reader's).")},
    {Py_tp_new, reinterpret_cast<void*>(new_entry<kNew, scanner_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_boxed<ScannerValue>)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = boxed_spec<ScannerValue>("builtins._JsonScanner", kSlots);

}  // namespace

PyObject* json_scanner_type() { return shared_type(g_type, &kSpec); }

}  // namespace tarnwick::py
