// Reading a class cut by brace groups once per distinct reading (see
// glob_cut.h).
#include "core/glob_cut.h"

#include <algorithm>

#include "core/brace.h"

namespace tarnwick {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// A class being read across pieces of text, as tokens::read_class reads
// it whole: an optional `!`, a first member (even `]`), then members up to
// the first unescaped `]`.
struct ClassRead {
  enum class Phase : std::uint8_t { Open, First, Members };
  tokens::ClassBuilder members;
  Phase phase = Phase::Open;
  bool negated = false;

  auto operator<=>(const ClassRead&) const = default;
  bool operator==(const ClassRead&) const = default;

  // Reads `piece` on; the offset of the `]` that closes the class, or npos
  // when the class is still open after it. An escape never spans two
  // pieces: a group's `{` is unescaped, and its segments hold no `\`.
  std::size_t read(std::string_view piece) {
    const std::size_t n = piece.size();
    for (std::size_t j = 0; j < n;) {
      const char c = piece[j];
      if (phase == Phase::Open) {
        phase = Phase::First;
        if (c == '!') {
          negated = true;
          ++j;
          continue;
        }
      }
      if (phase == Phase::Members && c == ']') return j;
      phase = Phase::Members;
      if (c == '\\' && j + 1 < n) {
        members.literal(static_cast<unsigned char>(piece[j + 1]));
        j += 2;
      } else if (c == '-') {
        members.dash();
        ++j;
      } else {
        members.literal(static_cast<unsigned char>(c));
        ++j;
      }
    }
    return npos;
  }
};

template <class T>
void sort_unique(std::vector<T>& items) {
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
}

// The offset of the first `[` that `piece` leaves open, read as
// for_each_token reads it, or npos.
std::size_t first_open_class(std::string_view piece) {
  tokens::CloseScan closes;
  ByteSet set;
  for (std::size_t i = 0; i < piece.size();) {
    if (piece[i] == '\\') {
      i += 2;
    } else if (piece[i] == '[') {
      const std::size_t end = tokens::read_class(piece, i, closes, set);
      if (end == npos) return i;
      i = end;
    } else {
      ++i;
    }
  }
  return npos;
}

// Whether every group is a choice between runs of plain bytes: then only
// the text between groups can open or close a class or escape a byte.
bool plain_choices(const BraceLayout& layout, std::size_t first_group) {
  for (std::size_t g = first_group; g < layout.groups.size(); ++g) {
    const BraceGroup& group = layout.groups[g];
    if (group.segment_count < 2) return false;
    for (std::size_t s = 0; s < group.segment_count; ++s) {
      if (layout.segments[group.first_segment + s].find_first_of("[]\\{") != npos) return false;
    }
  }
  return true;
}

// Appends `set` as one class of escaped bytes, runs of three or more as
// ranges, negated when that is shorter; never an empty member list.
void write_class(const ByteSet& set, std::string& out) {
  unsigned count = 0;
  for (unsigned b = 0; b < 256; ++b) count += set.contains(static_cast<unsigned char>(b));
  const bool negate = count == 0 || (count > 128 && count < 256);
  out += '[';
  if (negate) out += '!';
  for (unsigned b = 0; b < 256;) {
    if (set.contains(static_cast<unsigned char>(b)) == negate) {
      ++b;
      continue;
    }
    unsigned e = b;
    while (e + 1 < 256 && set.contains(static_cast<unsigned char>(e + 1)) != negate) ++e;
    out += '\\';
    out += static_cast<char>(b);
    if (e >= b + 2) {
      out += "-\\";
      out += static_cast<char>(e);
    } else if (e == b + 1) {
      out += '\\';
      out += static_cast<char>(e);
    }
    b = e + 1;
  }
  out += ']';
}

}  // namespace

std::optional<CutClass> CutClass::find(std::string_view pattern, std::size_t from) {
  const BraceLayout layout = find_brace_groups(pattern);
  if (!layout.expands()) return std::nullopt;
  const std::vector<BraceGroup>& groups = layout.groups;
  std::size_t first = 0;  // the first group from `from` on
  while (first < groups.size() && groups[first].open < from) ++first;
  if (!plain_choices(layout, first)) return std::nullopt;
  const std::size_t last_close = pattern.rfind(']');
  // The text between group g - 1 and group g (the last one after all
  // groups), from `from` on.
  auto between = [&](std::size_t g) {
    const std::size_t start = std::max(from, g == 0 ? 0 : groups[g - 1].close + 1);
    const std::size_t end = g < groups.size() ? groups[g].open : pattern.size();
    return pattern.substr(start, end - start);
  };
  for (std::size_t g = first; g < groups.size(); ++g) {
    const std::string_view before = between(g);
    const std::size_t at = first_open_class(before);
    if (at == npos) continue;
    CutClass cut;
    cut.open_ = static_cast<std::size_t>(before.data() - pattern.data()) + at;
    if (last_close == npos || last_close < cut.open_) return std::nullopt;  // a literal `[`: nothing is cut
    std::vector<ClassRead> live(1);
    live[0].read(before.substr(at + 1));
    std::vector<ClassRead> next;
    for (std::size_t h = g; h < groups.size() && !live.empty(); ++h) {
      next.clear();
      for (const ClassRead& read : live) {
        for (std::size_t s = 0; s < groups[h].segment_count; ++s) {
          next.push_back(read);
          next.back().read(layout.segments[groups[h].first_segment + s]);
        }
      }
      sort_unique(next);
      live.clear();
      const std::string_view after = between(h + 1);
      const auto offset = static_cast<std::size_t>(after.data() - pattern.data());
      for (ClassRead& read : next) {
        const std::size_t close = read.read(after);
        if (close == npos) {
          live.push_back(read);
        } else {
          cut.readings_.push_back({offset + close, read.members.finish(read.negated)});
        }
      }
      sort_unique(live);
    }
    if (!live.empty()) return std::nullopt;
    sort_unique(cut.readings_);
    return cut;
  }
  return std::nullopt;
}

std::size_t CutClass::closes() const {
  std::size_t count = 0;
  for (std::size_t r = 0; r < readings_.size(); ++r) count += r == 0 || readings_[r].close != readings_[r - 1].close;
  return count;
}

// No `{` before the class is unmatched (a group's segments hold none), and
// every byte of a written class is escaped: the group added is exactly the
// readings.
std::size_t CutClass::write(std::string_view pattern, std::size_t k, std::string& out) const {
  std::size_t r = 0;  // readings are sorted by close: skip to the k-th
  for (; k > 0; --k) {
    const std::size_t close = readings_[r].close;
    while (r < readings_.size() && readings_[r].close == close) ++r;
  }
  const std::size_t close = readings_[r].close;
  out.append(pattern.substr(0, open_));
  out += '{';
  for (std::size_t first = r; r < readings_.size() && readings_[r].close == close; ++r) {
    if (r != first) out += ',';
    write_class(readings_[r].set, out);
  }
  out += '}';
  const std::size_t after = out.size();
  out.append(pattern.substr(close + 1));
  return after;
}

}  // namespace tarnwick
