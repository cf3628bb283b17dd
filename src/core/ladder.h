// Ladders: ordered levels, most significant first, with saturating moves.
// Both folds (the lint fold and the caller-defined ladder fold) share the one
// move rule and the one combine loop defined here:
//
//   - every matching directive that takes part may contribute its note;
//   - the steps of all matches are summed exactly, in 64 bits;
//   - any match whose verb drops sets `dropped`;
//   - the level moves once, by the clamped sum, saturating at both ends.
//
// Summing before moving makes the level and `dropped` independent of the
// order of the directives; only the notes follow the list order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/directive.h"

namespace tarnwick {

// The rung reached from `rung` on a ladder of `count` levels after moving
// `delta` rungs, stopping at the first and the last rung.
std::size_t saturating_move(std::size_t rung, std::size_t count, std::int32_t delta);

// A summed step count brought into the 32-bit range; any sum beyond it still
// points at the end it would reach.
constexpr std::int32_t clamp_steps(std::int64_t sum) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      sum, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// How one directive's action takes part in a fold.
struct Effect {
  bool takes_part = true;  // false: not even matched, contributes nothing
  std::int32_t step = 0;
  bool drops = false;
};

struct Tally {
  std::int64_t steps = 0;
  bool dropped = false;
  // Views of the matching records' notes: valid while the records are.
  std::vector<std::string_view> notes;
  // The position of the first matching directive that drops (set by
  // lint::Policy::fold only): the one a suppression is attributed to.
  std::optional<std::size_t> first_drop;
};

// The combine loop shared by every fold. `record_of(item)` gives the item's
// directive record, `takes_part(item)` whether its action takes part at all
// (asked before matching, which is the costly part), and `effect_of(item)`
// how it takes part (asked only for the items that match).
template <class Items, class RecordOf, class TakesPart, class EffectOf>
Tally tally_matches(const Items& items, const MatchTarget& target, bool collect_notes,
                    RecordOf record_of, TakesPart takes_part, EffectOf effect_of) {
  Tally tally;
  for (const auto& item : items) {
    if (!takes_part(item)) continue;
    const auto& record = record_of(item);
    if (!record.matches(target)) continue;
    const Effect effect = effect_of(item);
    if (const auto note = collect_notes ? record.note() : std::nullopt) {
      // Room for a few notes at once: one allocation for the usual handful.
      if (tally.notes.empty()) tally.notes.reserve(8);
      tally.notes.emplace_back(*note);
    }
    tally.steps += effect.step;
    tally.dropped = tally.dropped || effect.drops;
  }
  return tally;
}

struct StepEntry {
  std::string_view verb;
  std::int32_t step;
  std::size_t order = 0;  // set by StepTable
};

// A caller's map of verb to step count, for lookups by exact text. When the
// same text is given twice, the later value wins. Sorts the caller's
// entries in place and keeps a view of them: O(n log n), no allocation.
class StepTable {
 public:
  explicit StepTable(std::span<StepEntry> entries);
  std::int32_t step_of(std::string_view verb) const;
  // Whether `verb` has an entry (its step may be 0).
  bool contains(std::string_view verb) const;

 private:
  std::span<const StepEntry> entries_;
};

// A caller's set of verbs that drop the target. Sorts the caller's verbs in
// place and keeps a view of them.
class VerbSet {
 public:
  explicit VerbSet(std::span<std::string_view> verbs);
  bool contains(std::string_view verb) const;

 private:
  std::span<const std::string_view> verbs_;
};

struct LadderFolded {
  std::string_view level;  // a level of the ladder, or `current` itself
  std::optional<std::size_t> rung;  // the rung of `level`, when it is on the ladder
  bool dropped = false;
  std::vector<std::string_view> notes;  // views into the records
};

class Ladder {
 public:
  explicit Ladder(std::vector<std::string> levels) : levels_(std::move(levels)) {}

  const std::vector<std::string>& levels() const { return levels_; }
  // The rung of the first level equal to `level`, byte for byte.
  std::optional<std::size_t> position(std::string_view level) const;
  // `level` moved by `delta` rungs; `level` itself when it is not on the ladder.
  std::string_view step(std::string_view level, std::int32_t delta) const;
  // The rung `level` reaches when moved by `delta`; nothing when it is not
  // on the ladder.
  std::optional<std::size_t> step_rung(std::string_view level, std::int32_t delta) const;

  // Folds the directives (records of the open set, reached through
  // `record_of`) that match `target` onto `current`, with the caller's verbs.
  template <class Items, class RecordOf>
  LadderFolded fold(std::string_view current, const Items& items, const MatchTarget& target,
                    const StepTable& steps, const VerbSet& drop, bool collect_notes,
                    RecordOf record_of) const {
    Tally tally = tally_matches(
        items, target, collect_notes, record_of, [](const auto&) { return true; },
        [&](const auto& item) {
          const std::string_view verb = record_of(item).action();
          return Effect{true, steps.step_of(verb), drop.contains(verb)};
        });
    const std::optional<std::size_t> rung = step_rung(current, clamp_steps(tally.steps));
    return {rung ? std::string_view(levels_[*rung]) : current, rung, tally.dropped,
            std::move(tally.notes)};
  }

 private:
  std::vector<std::string> levels_;
};

}  // namespace tarnwick
