// A policy: a fixed list of directives, each with its origin, compiled once
// for the many findings a host tool folds. What it adds to the plain folds:
//
//   - candidates are looked up, not scanned: a directive whose NAME and
//     PATH (or NAME alone, when it has no PATH) are literal is filed under
//     that text; only the others are tested against every finding;
//   - it remembers which directives matched something, so a tool can report
//     the ones that matched nothing (marks are atomic: queries may run on
//     several threads at once);
//   - settings can be asked for a kind and paths.
//
// Folding over the candidates gives what folding over every directive
// gives: a directive that does not match contributes nothing, and the
// candidates are visited in list order (the order of the notes).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/directive.h"
#include "core/ladder.h"
#include "lint/lint_action.h"

namespace tarnwick::lint {

// Where a directive was written: a file and a line; absent for an inline one.
struct Origin {
  std::string file;
  std::uint64_t line = 0;
};

struct PolicyEntry {
  // Not owned: the records outlive the policy (the Python layer keeps the
  // Directive objects that hold them), so that a policy of a 100,000-line
  // baseline copies no record.
  const Directive* record;
  std::optional<Origin> origin;
  std::optional<LintAction> verb;  // its lint verb, whatever the vocabulary
  Effect effect;                   // how it takes part in this policy's fold
};

// A (name, path) key, looked up with views and stored with owned texts.
struct TextPairHash {
  using is_transparent = void;
  std::size_t operator()(std::pair<std::string_view, std::string_view> key) const;
  std::size_t operator()(const std::pair<std::string, std::string>& key) const {
    return (*this)(std::pair<std::string_view, std::string_view>(key.first, key.second));
  }
};
struct TextPairEqual {
  using is_transparent = void;
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return std::string_view(a.first) == std::string_view(b.first) &&
           std::string_view(a.second) == std::string_view(b.second);
  }
};
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const;
};

class Policy {
 public:
  // The lint vocabulary: suppress, de-escalate, escalate, note.
  static Policy lint(std::vector<PolicyEntry> entries);
  // A caller's vocabulary: only the verbs in `steps` or `drop` take part.
  static Policy ladder(std::vector<PolicyEntry> entries, const StepTable& steps,
                       const VerbSet& drop);

  Policy(Policy&&) = default;
  Policy& operator=(Policy&&) = default;

  std::span<const PolicyEntry> entries() const { return entries_; }

  // The combined effect of the directives that match `target`, whose names
  // and scopes must each be free of duplicates. Marks them used.
  Tally fold(const MatchTarget& target, bool collect_notes) const;

  // The positions of the `set` directives that apply: with a kind, those
  // with no KIND or that KIND; with scopes, those with no PATH or a PATH
  // that matches one of them. Neither given: every `set` directive. Marks
  // them used.
  std::vector<std::size_t> settings(std::optional<std::string_view> kind,
                                    std::optional<std::span<const std::string_view>> scopes) const;

  // Positions of the directives that no fold or settings query has matched.
  std::vector<std::size_t> unused() const;

 private:
  explicit Policy(std::vector<PolicyEntry> entries);
  void file_entries();
  void mark(std::size_t i) const {
    if (!used_[i].load(std::memory_order_relaxed)) used_[i].store(true, std::memory_order_relaxed);
  }
  // Calls `visit(i)` for each candidate position for `target`, in increasing order.
  template <class Visit>
  void for_each_candidate(const MatchTarget& target, Visit visit) const;

  using Positions = std::vector<std::uint32_t>;
  std::vector<PolicyEntry> entries_;
  std::unique_ptr<std::atomic<bool>[]> used_;
  std::unordered_map<std::pair<std::string, std::string>, Positions, TextPairHash, TextPairEqual>
      by_name_path_;
  std::unordered_map<std::string, Positions, TextHash, std::equal_to<>> by_name_;
  Positions scanned_;  // taking part, not filed: tested against every target
};

// Sorts `texts` and moves repeats to the end; returns how many distinct
// texts lead. Matching never depends on the order of names or scopes.
std::size_t drop_repeats(std::span<std::string_view> texts);

}  // namespace tarnwick::lint
