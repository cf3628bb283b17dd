#include "core/ladder.h"

namespace tarnwick {
namespace {

// The order of the lookup tables: shorter texts first, then by bytes, so
// that most comparisons are settled by the sizes without reading a byte.
bool shortlex_less(std::string_view a, std::string_view b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

std::size_t saturating_move(std::size_t rung, std::size_t count, std::int32_t delta) {
  // The magnitude as unsigned, so that -2^31 has magnitude 2^31; rung + m
  // stays far below 2^64.
  const std::uint64_t m = delta < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(delta)
                                    : static_cast<std::uint64_t>(delta);
  if (delta >= 0) return static_cast<std::size_t>(std::min<std::uint64_t>(count - 1, rung + m));
  return rung - static_cast<std::size_t>(std::min<std::uint64_t>(rung, m));
}

std::optional<std::size_t> Ladder::position(std::string_view level) const {
  for (std::size_t i = 0; i < levels_.size(); ++i) {
    if (levels_[i] == level) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> Ladder::step_rung(std::string_view level, std::int32_t delta) const {
  const std::optional<std::size_t> rung = position(level);
  if (!rung) return std::nullopt;
  return saturating_move(*rung, levels_.size(), delta);
}

std::string_view Ladder::step(std::string_view level, std::int32_t delta) const {
  const std::optional<std::size_t> rung = step_rung(level, delta);
  return rung ? std::string_view(levels_[*rung]) : level;
}

StepTable::StepTable(std::span<StepEntry> entries) {
  // By text (shortlex), then by position: the last of equal texts is the later value.
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i].order = i;
  std::sort(entries.begin(), entries.end(), [](const StepEntry& a, const StepEntry& b) {
    return a.verb != b.verb ? shortlex_less(a.verb, b.verb) : a.order < b.order;
  });
  std::size_t kept = 0;
  for (const StepEntry& entry : entries) {
    if (kept > 0 && entries[kept - 1].verb == entry.verb) {
      entries[kept - 1].step = entry.step;
    } else {
      entries[kept++] = entry;
    }
  }
  entries_ = entries.first(kept);
}

std::int32_t StepTable::step_of(std::string_view verb) const {
  auto it = std::lower_bound(
      entries_.begin(), entries_.end(), verb,
      [](const StepEntry& entry, std::string_view v) { return shortlex_less(entry.verb, v); });
  return it != entries_.end() && it->verb == verb ? it->step : 0;
}

bool StepTable::contains(std::string_view verb) const {
  auto it = std::lower_bound(
      entries_.begin(), entries_.end(), verb,
      [](const StepEntry& entry, std::string_view v) { return shortlex_less(entry.verb, v); });
  return it != entries_.end() && it->verb == verb;
}

VerbSet::VerbSet(std::span<std::string_view> verbs) : verbs_(verbs) {
  std::sort(verbs.begin(), verbs.end(), shortlex_less);
}

bool VerbSet::contains(std::string_view verb) const {
  return std::binary_search(verbs_.begin(), verbs_.end(), verb, shortlex_less);
}

}  // namespace tarnwick
