#include "lint/policy.h"

#include <algorithm>
#include <functional>

#include "core/literal.h"
#include "lint/lint_fold.h"

namespace tarnwick::lint {

std::size_t TextHash::operator()(std::string_view text) const {
  return std::hash<std::string_view>{}(text);
}

std::size_t TextPairHash::operator()(std::pair<std::string_view, std::string_view> key) const {
  const std::size_t a = std::hash<std::string_view>{}(key.first);
  const std::size_t b = std::hash<std::string_view>{}(key.second);
  return a ^ (b + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
}

std::size_t drop_repeats(std::span<std::string_view> texts) {
  std::sort(texts.begin(), texts.end());
  return static_cast<std::size_t>(std::unique(texts.begin(), texts.end()) - texts.begin());
}

Policy::Policy(std::vector<PolicyEntry> entries)
    : entries_(std::move(entries)), used_(new std::atomic<bool>[entries_.size()]) {
  for (std::size_t i = 0; i < entries_.size(); ++i) used_[i].store(false, std::memory_order_relaxed);
}

Policy Policy::lint(std::vector<PolicyEntry> entries) {
  Policy policy(std::move(entries));
  for (PolicyEntry& e : policy.entries_) e.effect = lint_effect(e.verb);
  policy.file_entries();
  return policy;
}

Policy Policy::ladder(std::vector<PolicyEntry> entries, const StepTable& steps, const VerbSet& drop) {
  Policy policy(std::move(entries));
  for (PolicyEntry& e : policy.entries_) {
    const std::string_view verb = e.record->action();
    const bool drops = drop.contains(verb);
    // A verb named in `steps` takes part even with step 0; step_of cannot
    // tell that from absence, so ask for the entry itself.
    e.effect = {drops || steps.contains(verb), steps.step_of(verb), drops};
  }
  policy.file_entries();
  return policy;
}

void Policy::file_entries() {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const PolicyEntry& e = entries_[i];
    if (!e.effect.takes_part) continue;
    const auto index = static_cast<std::uint32_t>(i);
    std::optional<std::string> name = literal_text(e.record->name().source());
    std::optional<std::string> path;
    const Pattern* path_pattern = e.record->path();
    if (name && path_pattern) path = literal_text(path_pattern->source());
    if (name && !path_pattern) {
      by_name_[std::move(*name)].push_back(index);
    } else if (name && path) {
      by_name_path_[{std::move(*name), std::move(*path)}].push_back(index);
    } else {
      scanned_.push_back(index);
    }
  }
}

template <class Visit>
void Policy::for_each_candidate(const MatchTarget& target, Visit visit) const {
  const std::size_t pairs = target.names.size() * target.scopes.size();
  if (target.names.size() + pairs > entries_.size()) {
    // More lookups than directives: testing every one is cheaper.
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].effect.takes_part) visit(i);
    }
    return;
  }
  // The filed candidates: a few, as a rule, kept on the stack.
  constexpr std::size_t kInline = 32;
  std::uint32_t inline_found[kInline];
  Positions spilled;
  std::size_t count = 0;
  auto take = [&](const auto& map, const auto& key) {
    const auto it = map.find(key);
    if (it == map.end()) return;
    for (std::uint32_t i : it->second) {
      if (count < kInline) {
        inline_found[count] = i;
      } else {
        if (spilled.empty()) spilled.assign(inline_found, inline_found + kInline);
        spilled.push_back(i);
      }
      ++count;
    }
  };
  for (std::string_view name : target.names) {
    if (!by_name_.empty()) take(by_name_, name);
    if (by_name_path_.empty()) continue;
    for (std::string_view scope : target.scopes) {
      take(by_name_path_, std::pair<std::string_view, std::string_view>(name, scope));
    }
  }
  // Each directive once, in list order: names and scopes are distinct, so
  // no position is filed under two of the keys looked up.
  const std::uint32_t* first = count <= kInline ? inline_found : spilled.data();
  std::uint32_t* begin = const_cast<std::uint32_t*>(first);
  std::sort(begin, begin + count);
  const std::uint32_t* a = begin;
  const std::uint32_t* a_end = begin + count;
  auto b = scanned_.begin();
  while (a != a_end || b != scanned_.end()) {
    if (b == scanned_.end() || (a != a_end && *a < *b)) {
      visit(*a++);
    } else {
      visit(*b++);
    }
  }
}

Tally Policy::fold(const MatchTarget& target, bool collect_notes) const {
  Tally tally;
  for_each_candidate(target, [&](std::size_t i) {
    const PolicyEntry& e = entries_[i];
    if (!e.record->matches(target)) return;
    mark(i);
    if (collect_notes && e.record->note()) {
      if (tally.notes.empty()) tally.notes.reserve(8);
      tally.notes.emplace_back(*e.record->note());
    }
    tally.steps += e.effect.step;
    if (e.effect.drops && !tally.dropped) tally.first_drop = i;  // candidates come in list order
    tally.dropped = tally.dropped || e.effect.drops;
  });
  return tally;
}

std::vector<std::size_t> Policy::settings(
    std::optional<std::string_view> kind,
    std::optional<std::span<const std::string_view>> scopes) const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const PolicyEntry& e = entries_[i];
    if (e.verb != LintAction::Set) continue;
    const std::optional<std::string_view> own_kind = e.record->kind();
    const Pattern* path = e.record->path();
    if (kind && own_kind && *own_kind != *kind) continue;
    if (scopes && path && !any_matches(*path, *scopes)) continue;
    mark(i);
    out.push_back(i);
  }
  return out;
}

std::vector<std::size_t> Policy::unused() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!used_[i].load(std::memory_order_relaxed)) out.push_back(i);
  }
  return out;
}

}  // namespace tarnwick::lint
