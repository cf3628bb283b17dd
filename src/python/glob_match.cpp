// glob_match(pattern, text)
#include "core/glob.h"

#include "python/call.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

Signature kSignature{"glob_match", {"pattern", "text"}};

PyObject* glob_match(PyObject*, Call& call) {
  std::string_view pattern;
  std::string_view text;
  if (!call.text(0, pattern) || !call.text(1, text)) return nullptr;
  return PyBool_FromLong(tarnwick::glob_match(pattern, text));
}

}  // namespace

PyMethodDef kGlobMatchDef = method_def<kSignature, glob_match>(
    "glob_match",
    "glob_match(pattern, text)\n--\n\n"
    "`glob_match(pattern, text)` \u2192 does the glob (`* ? {} [..] \\\\`) match `text` in full?");

}  // namespace tarnwick::py
