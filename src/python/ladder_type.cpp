#include "python/ladder_type.h"

#include <string>
#include <vector>

#include "core/ladder.h"
#include "python/call.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/directive_type.h"
#include "python/errors.h"
#include "python/restore.h"

namespace tarnwick::py {
namespace {

// A Ladder instance: the ladder, and each of its levels as a str, made
// once so that a fold returns a level without making a new one.
struct LadderValue {
  LadderValue(std::vector<std::string> levels, std::vector<Ref> strs)
      : ladder(std::move(levels)), level_strs(std::move(strs)) {}
  Ladder ladder;
  std::vector<Ref> level_strs;
};

const LadderValue& value_of(PyObject* self) { return unbox<LadderValue>(self); }
const Ladder& ladder_of(PyObject* self) { return value_of(self).ladder; }

Signature kNew{"Ladder", {"levels"}};

PyObject* ladder_new(PyObject* type, Call& call) {
  Call::Texts levels;
  if (!call.texts(0, levels)) return nullptr;
  std::vector<std::string> copies(levels.span().begin(), levels.span().end());
  std::vector<Ref> strs;
  strs.reserve(copies.size());
  for (const std::string& level : copies) {
    strs.emplace_back(new_str(level));
    if (!strs.back()) return nullptr;
  }
  return new_boxed<LadderValue>(type, std::move(copies), std::move(strs));
}

PyObject* get_levels(PyObject* self, void*) {
  return guarded([&] { return new_str_list(ladder_of(self).levels()); });
}

Signature kPosition{"Ladder.position", {"level"}};

PyObject* ladder_position(PyObject* self, Call& call) {
  std::string_view level;
  if (!call.text(0, level)) return nullptr;
  const std::optional<std::size_t> rung = ladder_of(self).position(level);
  if (!rung) Py_RETURN_NONE;
  return PyLong_FromSize_t(*rung);
}

Signature kStep{"Ladder.step", {"level", "delta"}};

PyObject* ladder_step(PyObject* self, Call& call) {
  std::string_view level;
  std::int32_t delta = 0;
  if (!call.text(0, level) || !call.int32(1, delta)) return nullptr;
  return new_str(ladder_of(self).step(level, delta));
}

Signature kFold{"Ladder.fold", {"current", "directives", "names", "*", "qualifier", "scopes",
                                "steps", "drop", "notes"}};

PyObject* ladder_fold(PyObject* self, Call& call) {
  std::string_view current;
  Call::Objects directives;
  Call::Texts names;
  std::optional<std::string_view> qualifier;
  Call::Texts scopes;
  Call::Steps steps;
  Call::TextSet drop;
  bool notes = true;
  if (!call.text(0, current) || !to_directives(call, 1, directives) || !call.texts(2, names) ||
      !call.text(3, qualifier) || !call.texts(4, scopes) || !call.steps(5, steps) ||
      !call.text_set(6, drop) || !call.flag(7, notes)) {
    return nullptr;
  }
  const MatchTarget target{names.span(), qualifier, scopes.span()};
  const StepTable step_table(steps.span());
  const VerbSet drop_set(drop.members.span());
  LadderFolded folded =
      ladder_of(self).fold(current, directives.span(), target, step_table, drop_set, notes,
                           [](PyObject* d) -> const Directive& { return directive_value(d).record; });
  Ref level(folded.rung ? Ref::borrow(value_of(self).level_strs[*folded.rung].get())
                        : Ref(new_str(folded.level)));
  Ref note_list(level ? new_str_list(folded.notes) : nullptr);
  if (!note_list) return nullptr;
  return PyTuple_Pack(3, level.get(), folded.dropped ? Py_True : Py_False, note_list.get());
}

// (restorer, (levels,)).
PyObject* ladder_reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    Ref levels(new_str_list(ladder_of(self).levels()));
    return levels ? reduce_with("_ladder", PyTuple_Pack(1, levels.get())) : nullptr;
  });
}

PyGetSetDef kGetters[] = {
    {"levels", get_levels, nullptr, "All levels, most-significant first.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    method_def<kPosition, ladder_position>(
        "position",
        "position($self, level)\n--\n\n"
        "The rung index of `level`, or `None` if it isn't on this ladder."),
    method_def<kStep, ladder_step>(
        "step",
        "step($self, level, delta)\n--\n\n"
        "Move `level` by `delta` rungs, saturating at both ends (`delta>0` \u2192 later in the list)."),
    method_def<kFold, ladder_fold>(
     "fold",
     "fold($self, current, directives, names, *, qualifier=None, scopes=None, steps=None, "
     "drop=None, notes=True)\n--\n\n"
     "Fold matching directives onto a target with *your* verb vocabulary, returning\n"
     "`(level, dropped, notes)`: notes accumulate from every match, `current` steps by the summed\n"
     "`steps[action]` (missing actions = 0), and `dropped` is set if any matching action is in\n"
     "`drop`. Custom verbs + custom ladder, same combine shape as the built-in lint fold."),
    {"__reduce__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ladder_reduce)),
     METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Ladder(levels)\n--\n\n"
         "`Ladder(levels)` \u2014 a saturating, order-independent ladder over any ordered set "
         "(severities,\n`[\"draft\", \"review\", \"final\"]`, \u2026). Levels are most-significant "
         "first.")},
    {Py_tp_new, reinterpret_cast<void*>(new_entry<kNew, ladder_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_boxed<LadderValue>)},
    {Py_tp_getset, kGetters},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = boxed_spec<LadderValue>("builtins.Ladder", kSlots);

PyObject* g_type = nullptr;

}  // namespace

PyObject* ladder_type() { return shared_type(g_type, &kSpec); }

const Ladder& core_ladder(PyObject* ladder) { return ladder_of(ladder); }

PyObject* ladder_level_str(PyObject* ladder, std::size_t rung) {
  return value_of(ladder).level_strs[rung].get();
}

}  // namespace tarnwick::py
