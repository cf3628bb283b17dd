// Sanitizer self-check. Compiled to nothing unless the build defines
// TARNWICK_CANARY (CMake option TARNWICK_CANARY, used only by
// `scripts/sanitize --canary`). With it, glob_match recognises four patterns
// that start with a NUL character and plants one fault each, which the
// sanitized build must report:
//
//   "\0canary"       reads one byte past a heap copy of `text` (C++ heap)
//   "\0canary-py"    reads one byte past the interpreter's own UTF-8 buffer
//                    of `text`; seen only with PYTHONMALLOC=malloc
//   "\0canary-ub"    overflows a signed int (UndefinedBehaviorSanitizer)
//   "\0canary-leak"  drops a heap block (LeakSanitizer, at exit)
#ifdef TARNWICK_CANARY

#include <climits>
#include <cstring>
#include <memory>
#include <string_view>

namespace tarnwick::py {

// Whether `pattern` is a canary; if so, plants its fault and sets `result`.
bool canary_glob_match(std::string_view pattern, std::string_view text, bool& result) {
  using namespace std::string_view_literals;
  if (pattern == "\0canary"sv) {
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    const volatile char* bytes = copy.get();
    result = bytes[text.size()] != 0;  // one byte past the block
    return true;
  }
  if (pattern == "\0canary-py"sv) {
    // text.data()[size] is the terminating NUL inside the str's allocation;
    // the byte after it is outside.
    const volatile char* bytes = text.data();
    result = bytes[text.size() + 1] != 0;
    return true;
  }
  if (pattern == "\0canary-ub"sv) {
    volatile int big = INT_MAX;
    const int sum = big + static_cast<int>(text.size() + 1);
    result = sum < 0;
    return true;
  }
  if (pattern == "\0canary-leak"sv) {
    static char* volatile dropped = nullptr;
    dropped = new char[64 + text.size()];
    dropped = nullptr;
    result = false;
    return true;
  }
  return false;
}

}  // namespace tarnwick::py

#endif  // TARNWICK_CANARY
