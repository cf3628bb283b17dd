// The lint combine policy over the severities: a matching suppress sets
// `dropped`, each matching de-escalate moves one step toward info and each
// escalate one toward error, all summed and applied once; every matching
// lint directive contributes its note. `set` directives and tokens that are
// not lint verbs take no part at all.
//
// Records are reached through accessors so that callers fold over their own
// containers (a span of records, an array of wrapper objects) without
// copying them: `record_of(item)` gives the open-set record and
// `verb_of(item)` its lint verb, if any.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/ladder.h"
#include "lint/lint_action.h"
#include "lint/severity.h"

namespace tarnwick::lint {

struct Folded {
  Severity severity;
  bool dropped = false;
  std::vector<std::string_view> notes;  // views into the records
};

constexpr Effect lint_effect(std::optional<LintAction> verb) {
  if (!verb) return {false, 0, false};
  switch (*verb) {
    case LintAction::Suppress: return {true, 0, true};
    case LintAction::Deescalate: return {true, 1, false};
    case LintAction::Escalate: return {true, -1, false};
    case LintAction::Note: return {true, 0, false};
    case LintAction::Set: return {false, 0, false};
  }
  return {false, 0, false};
}

template <class Items, class RecordOf, class VerbOf>
Folded fold(Severity current, const MatchTarget& target, const Items& items, RecordOf record_of,
            VerbOf verb_of) {
  auto effect_of = [&](const auto& item) { return lint_effect(verb_of(item)); };
  Tally tally = tally_matches(
      items, target, true, record_of,
      [&](const auto& item) { return effect_of(item).takes_part; }, effect_of);
  const std::size_t rung = saturating_move(static_cast<std::size_t>(current), kSeverityCount,
                                           clamp_steps(tally.steps));
  return {static_cast<Severity>(rung), tally.dropped, std::move(tally.notes)};
}

// (key, value) of every `set` directive in order: the NAME text as written
// and the note, or the empty text. Views into the records.
template <class Items, class RecordOf, class VerbOf>
std::vector<std::pair<std::string_view, std::string_view>> settings(const Items& items,
                                                                   RecordOf record_of,
                                                                   VerbOf verb_of) {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  for (const auto& item : items) {
    if (verb_of(item) != LintAction::Set) continue;
    const auto& record = record_of(item);
    out.emplace_back(record.name().source(), record.note().value_or(std::string_view()));
  }
  return out;
}

}  // namespace tarnwick::lint
