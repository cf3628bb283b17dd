#include "python/ladder_type.h"

#include <string>
#include <vector>

#include "core/ladder.h"
#include "python/args.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/directive_type.h"
#include "python/errors.h"

namespace tarnwick::py {
namespace {

const Ladder& ladder_of(PyObject* self) { return unbox<Ladder>(self); }

constexpr const char* kNewNames[] = {"levels"};
PyObject* kNewInterned[std::size(kNewNames)] = {};
constexpr Signature kNew{"Ladder", kNewNames, 1, 1, kNewInterned};

PyObject* ladder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    BoundArgs bound;
    TextList levels;
    if (!bind_tuple(kNew, args, kwargs, bound) || !to_text_list(bound[0], {"Ladder", "levels"}, levels)) {
      return nullptr;
    }
    std::vector<std::string> copies(levels.views().begin(), levels.views().end());
    return new_boxed<Ladder>(reinterpret_cast<PyObject*>(type), std::move(copies));
  });
}

PyObject* get_levels(PyObject* self, void*) {
  return guarded([&] { return new_str_list(ladder_of(self).levels()); });
}

constexpr const char* kPositionNames[] = {"level"};
PyObject* kPositionInterned[std::size(kPositionNames)] = {};
constexpr Signature kPosition{"Ladder.position", kPositionNames, 1, 1, kPositionInterned};

PyObject* ladder_position(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  BoundArgs bound;
  std::string_view level;
  if (!bind_fastcall(kPosition, args, nargs, kwnames, bound) ||
      !to_text(bound[0], {"Ladder.position", "level"}, level)) {
    return nullptr;
  }
  const std::optional<std::size_t> rung = ladder_of(self).position(level);
  if (!rung) Py_RETURN_NONE;
  return PyLong_FromSize_t(*rung);
}

constexpr const char* kStepNames[] = {"level", "delta"};
PyObject* kStepInterned[std::size(kStepNames)] = {};
constexpr Signature kStep{"Ladder.step", kStepNames, 2, 2, kStepInterned};

PyObject* ladder_step(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BoundArgs bound;
  std::string_view level;
  std::int32_t delta = 0;
  if (!bind_fastcall(kStep, args, nargs, kwnames, bound) ||
      !to_text(bound[0], {"Ladder.step", "level"}, level) ||
      !to_int32(bound[1], {"Ladder.step", "delta"}, delta)) {
    return nullptr;
  }
  return new_str(ladder_of(self).step(level, delta));
}

constexpr const char* kFoldNames[] = {"current", "directives", "names", "qualifier",
                                      "scopes",  "steps",      "drop",  "notes"};
PyObject* kFoldInterned[std::size(kFoldNames)] = {};
constexpr Signature kFold{"Ladder.fold", kFoldNames, 3, 3, kFoldInterned};

PyObject* ladder_fold(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    constexpr const char* f = "Ladder.fold";
    BoundArgs bound;
    if (!bind_fastcall(kFold, args, nargs, kwnames, bound)) return nullptr;
    std::string_view current;
    RefList directives;
    TextList names;
    std::string_view qualifier;
    TextList scopes;
    StepMap steps;
    TextSet drop;
    bool notes = true;
    if (!to_text(bound[0], {f, "current"}, current) ||
        !to_directive_list(bound[1], {f, "directives"}, directives) ||
        !to_text_list(bound[2], {f, "names"}, names) ||
        (bound.given(3) && !to_text(bound[3], {f, "qualifier"}, qualifier)) ||
        (bound.given(4) && !to_text_list(bound[4], {f, "scopes"}, scopes)) ||
        (bound.given(5) && !to_step_map(bound[5], {f, "steps"}, steps)) ||
        (bound.given(6) && !to_text_set(bound[6], {f, "drop"}, drop)) ||
        (bound[7] != nullptr && !to_flag(bound[7], {f, "notes"}, notes))) {
      return nullptr;
    }
    MatchTarget target{names.views(), std::nullopt, scopes.views()};
    if (bound.given(3)) target.qualifier = qualifier;
    const StepTable step_table({steps.entries().begin(), steps.entries().end()});
    const VerbSet drop_set({drop.members().begin(), drop.members().end()});
    LadderFolded folded =
        ladder_of(self).fold(current, directives.items(), target, step_table, drop_set, notes,
                             [](PyObject* d) -> const Directive& { return directive_value(d).record; });
    Ref level(new_str(folded.level));
    Ref note_list(level ? new_str_list(folded.notes) : nullptr);
    if (!note_list) return nullptr;
    return PyTuple_Pack(3, level.get(), folded.dropped ? Py_True : Py_False, note_list.get());
  });
}

PyGetSetDef kGetters[] = {
    {"levels", get_levels, nullptr, "All levels, most-significant first.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

template <class F>
PyCFunction fastcall(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef kMethods[] = {
    {"position", fastcall(ladder_position), METH_FASTCALL | METH_KEYWORDS,
     "position($self, level)\n--\n\n"
     "The rung index of `level`, or `None` if it isn't on this ladder."},
    {"step", fastcall(ladder_step), METH_FASTCALL | METH_KEYWORDS,
     "step($self, level, delta)\n--\n\n"
     "Move `level` by `delta` rungs, saturating at both ends (`delta>0` \u2192 later in the list)."},
    {"fold", fastcall(ladder_fold), METH_FASTCALL | METH_KEYWORDS,
     "fold($self, current, directives, names, *, qualifier=None, scopes=None, steps=None, "
     "drop=None, notes=True)\n--\n\n"
     "Fold matching directives onto a target with *your* verb vocabulary, returning\n"
     "`(level, dropped, notes)`: notes accumulate from every match, `current` steps by the summed\n"
     "`steps[action]` (missing actions = 0), and `dropped` is set if any matching action is in\n"
     "`drop`. Custom verbs + custom ladder, same combine shape as the built-in lint fold."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Ladder(levels)\n--\n\n"
         "`Ladder(levels)` \u2014 a saturating, order-independent ladder over any ordered set "
         "(severities,\n`[\"draft\", \"review\", \"final\"]`, \u2026). Levels are most-significant "
         "first.")},
    {Py_tp_new, reinterpret_cast<void*>(ladder_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_boxed<Ladder>)},
    {Py_tp_getset, kGetters},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "builtins.Ladder",
    static_cast<int>(sizeof(Boxed<Ladder>)),
    0,
    kFinalImmutable,
    kSlots,
};

PyObject* g_type = nullptr;

}  // namespace

PyObject* ladder_type() { return shared_type(g_type, &kSpec); }

}  // namespace tarnwick::py
