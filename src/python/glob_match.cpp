// glob_match(pattern, text)
#include "core/glob.h"

#include "python/args.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
#ifdef TARNWICK_CANARY  // sanitizer self-check, see canary.cpp
bool canary_glob_match(std::string_view pattern, std::string_view text, bool& result);
#endif
namespace {

constexpr const char* kNames[] = {"pattern", "text"};
PyObject* kSignatureInterned[std::size(kNames)] = {};
constexpr Signature kSignature{"glob_match", kNames, 2, 2, kSignatureInterned};

PyObject* glob_match(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs bound;
    std::string_view pattern;
    std::string_view text;
    if (!bind_fastcall(kSignature, args, nargs, kwnames, bound) ||
        !to_text(bound[0], {"glob_match", "pattern"}, pattern) ||
        !to_text(bound[1], {"glob_match", "text"}, text)) {
      return nullptr;
    }
#ifdef TARNWICK_CANARY
    if (bool hit; canary_glob_match(pattern, text, hit)) return PyBool_FromLong(hit);
#endif
    return PyBool_FromLong(tarnwick::glob_match(pattern, text));
  });
}

}  // namespace

PyMethodDef kGlobMatchDef = {
    "glob_match", as_fastcall(glob_match), METH_FASTCALL | METH_KEYWORDS,
    "glob_match(pattern, text)\n--\n\n"
    "`glob_match(pattern, text)` \u2192 does the glob (`* ? {} [..] \\\\`) match `text` in full?"};

}  // namespace tarnwick::py
