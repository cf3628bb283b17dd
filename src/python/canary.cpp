// Sanitizer self-check. Compiled to nothing unless the build defines
// TARNWICK_CANARY (CMake option TARNWICK_CANARY, used only by
// `scripts/sanitize --canary`). With it, the module gets one more function,
// `_canary(fault, text)`, outside `__all__`, which plants the named fault,
// which the sanitized build must report:
//
//   "heap"    reads one byte past a heap copy of `text` (C++ heap)
//   "py"      reads one byte past the interpreter's own UTF-8 buffer of
//             `text`; seen only with PYTHONMALLOC=malloc
//   "ub"      overflows a signed int (UndefinedBehaviorSanitizer)
//   "leak"    drops a heap block (LeakSanitizer, at exit)
#ifdef TARNWICK_CANARY

#include <climits>
#include <cstring>
#include <memory>
#include <string_view>

#include "python/call.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

bool plant_fault(std::string_view fault, std::string_view text) {
  if (fault == "heap") {
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    const volatile char* bytes = copy.get();
    return bytes[text.size()] != 0;  // one byte past the block
  }
  if (fault == "py") {
    // text.data()[size] is the terminating NUL inside the str's allocation;
    // the byte after it is outside.
    const volatile char* bytes = text.data();
    return bytes[text.size() + 1] != 0;
  }
  if (fault == "ub") {
    volatile int big = INT_MAX;
    const int sum = big + static_cast<int>(text.size() + 1);
    return sum < 0;
  }
  if (fault == "leak") {
    static char* volatile dropped = nullptr;
    dropped = new char[64 + text.size()];
    dropped = nullptr;
  }
  return false;
}

Signature kSignature{"_canary", {"fault", "text"}};

PyObject* canary(PyObject*, Call& call) {
  std::string_view fault;
  std::string_view text;
  if (!call.text(0, fault) || !call.text(1, text)) return nullptr;
  return PyBool_FromLong(plant_fault(fault, text));
}

}  // namespace

PyMethodDef kCanaryDef = method_def<kSignature, canary>(
    "_canary", "_canary(fault, text)\n--\n\nPlants a fault the sanitizers must report.");

}  // namespace tarnwick::py

#endif  // TARNWICK_CANARY
