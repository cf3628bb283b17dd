// A class cut by brace groups: in `[{a,b}{a,b}c]` one class spans groups,
// so each alternative reads its own class, but most alternatives read the
// same one (here two byte sets for four alternatives). The first such
// class is read once per distinct reading, group by group, and the pattern
// is rewritten with each reading in its place: one pattern per reading
// instead of one per alternative.
//
//   CutClass::find("*[{a,b}{a,b}a]")->readings() == 2  // [\a] and [\a\b]
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/glob_tokens.h"

namespace tarnwick {

class CutClass {
 public:
  // The first class of `pattern` from `from` on that spans a brace group,
  // read every way its groups allow. Nothing when no class spans a group,
  // when a group from `from` on is not a plain choice of bytes (one
  // segment, or a segment with `[`, `]`, `\` or `{`), or when some
  // alternative leaves the class unclosed. Each group multiplies the
  // readings by at most its segment count, and equal readings merge before
  // the text after the group is read: at worst O(A * m) steps for A
  // alternatives, memory O(A) (A <= 1024).
  static std::optional<CutClass> find(std::string_view pattern, std::size_t from = 0);

  std::size_t readings() const { return readings_.size(); }
  // How many different `]` the readings close at (the first member may be a
  // `]` when the groups before it are empty): at most two per group.
  std::size_t closes() const;
  // Appends to `out` the pattern with the readings that close at the k-th
  // of those `]` as one group of classes, their members escaped, in place of
  // the text from the `[` to that `]`; returns where the text after the
  // group starts in `out`. The group has no more alternatives than the
  // groups it replaces, and nothing in it opens a class or a group: the
  // pattern can be searched on from there.
  std::size_t write(std::string_view pattern, std::size_t k, std::string& out) const;

 private:
  struct Reading {
    std::size_t close;  // where the `]` that closes the class is
    ByteSet set;
    auto operator<=>(const Reading&) const = default;
    bool operator==(const Reading&) const = default;
  };
  std::size_t open_ = 0;
  std::vector<Reading> readings_;
};

}  // namespace tarnwick
