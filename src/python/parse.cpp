// parse(spec, *, actions=None)
#include "core/parse.h"

#include "python/args.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/functions.h"

namespace tarnwick::py {
namespace {

constexpr const char* kNames[] = {"spec", "actions"};
PyObject* kSignatureInterned[std::size(kNames)] = {};
constexpr Signature kSignature{"parse", kNames, 1, 1, kSignatureInterned};

PyObject* parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs bound;
    std::string_view spec;
    TextSet actions;
    if (!bind_fastcall(kSignature, args, nargs, kwnames, bound) ||
        !to_text(bound[0], {"parse", "spec"}, spec) ||
        (bound.given(1) && !to_text_set(bound[1], {"parse", "actions"}, actions))) {
      return nullptr;
    }
    auto parsed = parse_as<std::string>(spec);
    if (!parsed) return raise_directive_error(parsed.error().message());
    if (!check_action(parsed.value().action, bound.given(1) ? &actions : nullptr)) return nullptr;
    return wrap_directive(std::move(parsed.value()));
  });
}

}  // namespace

PyMethodDef kParseDef = {
    "parse", as_fastcall(parse), METH_FASTCALL | METH_KEYWORDS,
    "parse(spec, *, actions=None)\n--\n\n"
    "`parse(spec, *, actions=None)` \u2192 a [`Directive`]. Raises `DirectiveError` on a malformed "
    "string,\n"
    "or \u2014 when `actions` is given \u2014 on an action token outside that allowed set."};

}  // namespace tarnwick::py
