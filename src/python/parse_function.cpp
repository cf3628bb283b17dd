// parse(spec, *, actions=None)
#include "core/parse.h"

#include "python/call.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

Signature kSignature{"parse", {"spec", "*", "actions"}};

PyObject* parse(PyObject*, Call& call) {
  std::string_view spec;
  Call::TextSet actions;
  if (!call.text(0, spec) || !call.text_set(1, actions)) return nullptr;
  auto parts = split_directive(spec);
  if (!parts) return raise_directive_error(parts.error().message());
  if (!check_action(parts.value().action, actions)) return nullptr;
  return wrap_directive(parts.value());
}

}  // namespace

PyMethodDef kParseDef = method_def<kSignature, parse>(
    "parse",
    "parse(spec, *, actions=None)\n--\n\n"
    "`parse(spec, *, actions=None)` \u2192 a [`Directive`]. Raises `DirectiveError` on a malformed "
    "string,\n"
    "or \u2014 when `actions` is given \u2014 on an action token outside that allowed set.");

}  // namespace tarnwick::py
