// glob_match(pattern, text), and _glob_match_as(engine, pattern, text) for
// the tests that check each engine on its own.
#include "core/glob.h"

#include <optional>
#include <string>
#include <string_view>

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

Signature kAsSignature{"_glob_match_as", {"engine", "pattern", "text"}};

std::optional<GlobEngine> engine_named(std::string_view name) {
  constexpr std::pair<std::string_view, GlobEngine> kNames[] = {
      {"short", GlobEngine::Short},         {"plain", GlobEngine::Plain},
      {"positions", GlobEngine::Positions}, {"steps", GlobEngine::Steps},
      {"alternatives", GlobEngine::Alternatives},
  };
  for (const auto& [n, engine] : kNames) {
    if (n == name) return engine;
  }
  return std::nullopt;
}

PyObject* glob_match_as(PyObject*, Call& call) {
  std::string_view name;
  std::string_view pattern;
  std::string_view text;
  if (!call.text(0, name) || !call.text(1, pattern) || !call.text(2, text)) return nullptr;
  const std::optional<GlobEngine> engine = engine_named(name);
  if (!engine) {
    PyErr_Format(PyExc_ValueError, "_glob_match_as: no engine named '%.50s'", std::string(name).c_str());
    return nullptr;
  }
  const std::optional<bool> hit = glob_match_with(*engine, pattern, text);
  if (!hit) Py_RETURN_NONE;
  return PyBool_FromLong(*hit);
}

}  // namespace

PyMethodDef kGlobMatchAsDef = method_def<kAsSignature, glob_match_as>(
    "_glob_match_as",
    "_glob_match_as(engine, pattern, text)\n--\n\n"
    "Test hook: `pattern` matched by one engine (short, plain, positions, steps, alternatives), "
    "None where it cannot take the pattern.");

PyMethodDef kGlobMatchDef = method_def<kSignature, glob_match>(
    "glob_match",
    "glob_match(pattern, text)\n--\n\n"
    "`glob_match(pattern, text)` \u2192 does the glob (`* ? {} [..] \\\\`) match `text` in full?");

}  // namespace tarnwick::py
