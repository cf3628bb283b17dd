// The bit-parallel matchers (see glob_bits.h).
#include "core/glob_bits.h"

#include <algorithm>
#include <bit>
#include <memory>

namespace tarnwick {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::uint64_t kOne = 1;

// Scratch words for one match call: on the stack up to a few thousand
// positions, on the heap beyond.
class Scratch {
 public:
  explicit Scratch(std::size_t words) {
    if (words > kInline) heap_.reset(new std::uint64_t[words]);
    data_ = heap_ ? heap_.get() : inline_;
    std::fill(data_, data_ + words, 0);
  }
  std::uint64_t* get() { return data_; }

 private:
  static constexpr std::size_t kInline = 64;
  std::uint64_t inline_[kInline];
  std::unique_ptr<std::uint64_t[]> heap_;
  std::uint64_t* data_;
};

std::uint32_t next_star(const Program& prog, std::uint32_t from, std::uint32_t limit);
std::uint32_t last_star(const Program& prog, std::uint32_t limit);
bool fits_at(const Program& prog, std::uint32_t a, std::uint32_t len, std::string_view text, std::size_t t);

// The words of a position set that may hold live bits: positions only move
// forward, so everything before `lo` stays dead.
struct LiveSpan {
  std::size_t lo = 0;
  std::size_t hi = 0;
  void reach(std::uint32_t pos) { hi = std::max<std::size_t>(hi, pos >> 6); }
};

// Makes live everything the live positions reach without reading a byte:
// the position after a live `*`, a group's segments from the position
// before it, and the position after a group from a segment's exit. Groups
// are visited left to right, so chains through empty pieces close in one
// pass.
void close_over(const Program& prog, std::uint64_t* live, LiveSpan& span) {
  std::uint64_t carry = 0;
  const std::size_t end = std::min<std::size_t>(span.hi + 1, prog.words - 1);
  for (std::size_t w = span.lo; w <= end; ++w) {
    const std::uint64_t s = live[w] & prog.star[w];
    live[w] |= (s << 1) | carry;
    carry = s >> 63;
  }
  if (live[end]) span.hi = std::max(span.hi, end);
  for (const GroupLinks& g : prog.groups) {
    if (g.fork > span.hi * 64 + 63) break;
    const std::size_t lo = g.first >> 6, hi = g.last >> 6;
    if (test_bit(live, g.fork)) {
      for (std::size_t w = lo; w <= hi; ++w) live[w] |= prog.entry[w] & span_mask(w, g.first, g.last);
      span.reach(g.last);
    }
    std::uint64_t exited = 0;
    for (std::size_t w = std::max(lo, span.lo); w <= std::min(hi, span.hi); ++w) {
      exited |= live[w] & prog.exit[w] & span_mask(w, g.first, g.last);
    }
    if (exited) {
      set_bit(live, g.join);
      span.reach(g.join);
      if (g.join_star) {
        set_bit(live, g.join + 1);
        span.reach(g.join + 1);
      }
    }
  }
}

// Brace patterns of at most 64 positions (most of them): the same steps as
// step_positions below, in one word.
bool step_one_word(const Program& prog, std::string_view text) {
  const std::uint32_t accept = prog.positions - 1;
  const std::uint64_t star = prog.star[0];
  const std::uint64_t star_tail = accept > 0 && prog.is_star(accept - 1) ? kOne << (accept - 1) : 0;
  auto close = [&](std::uint64_t live) {
    live |= (live & star) << 1;
    for (const GroupLinks& g : prog.groups) {
      const std::uint64_t segments = span_mask(0, g.first, g.last);
      if ((live >> g.fork) & 1) live |= prog.entry[0] & segments;
      if (live & prog.exit[0] & segments) live |= (kOne << g.join) | (g.join_star ? kOne << (g.join + 1) : 0);
    }
    return live;
  };
  std::uint64_t live = close(1);
  for (const char c : text) {
    if (live & star_tail) return true;
    live = close(((live & prog.row(static_cast<unsigned char>(c))[0]) << 1) | (live & star));
    if (!live) return false;
  }
  return (live >> accept) & 1;
}

// The first `*` position in [from, limit), or limit.
std::uint32_t next_star(const Program& prog, std::uint32_t from, std::uint32_t limit) {
  for (std::uint32_t w = from >> 6; (std::size_t{w} << 6) < limit; ++w) {
    std::uint64_t bits = prog.star[w];
    if (w == from >> 6) bits &= ~std::uint64_t{0} << (from & 63);
    if (bits) return std::min<std::uint32_t>(limit, (w << 6) + static_cast<std::uint32_t>(std::countr_zero(bits)));
  }
  return limit;
}

// The last `*` position before `limit` (there is one).
std::uint32_t last_star(const Program& prog, std::uint32_t limit) {
  for (std::uint32_t w = (limit - 1) >> 6;; --w) {
    std::uint64_t bits = prog.star[w];
    if (w == (limit - 1) >> 6) bits &= ~std::uint64_t{0} >> (63 - ((limit - 1) & 63));
    if (bits) return (w << 6) + 63 - static_cast<std::uint32_t>(std::countl_zero(bits));
  }
}

// Whether positions [a, a + len) accept text[t..t+len) one by one.
bool fits_at(const Program& prog, std::uint32_t a, std::uint32_t len, std::string_view text, std::size_t t) {
  for (std::uint32_t k = 0; k < len; ++k) {
    if (!prog.accepts(a + k, static_cast<unsigned char>(text[t + k]))) return false;
  }
  return true;
}

// Whether every position in [a, b) takes one given byte.
bool all_literal(const Program& prog, std::uint32_t a, std::uint32_t b) {
  for (std::size_t w = a >> 6; w <= (b - 1) >> 6; ++w) {
    if (~prog.literal[w] & span_mask(w, a, b - 1)) return false;
  }
  return true;
}

// The end of the leftmost occurrence of the literal positions [a, b) in
// text[from, to), or npos: Knuth-Morris-Pratt, linear in the text, with a
// table of b - a entries.
std::size_t find_literal(const Program& prog, std::uint32_t a, std::uint32_t b, std::string_view text,
                         std::size_t from, std::size_t to) {
  const unsigned char* run = prog.literal_byte + a;
  const std::size_t len = b - a;
  std::unique_ptr<std::uint32_t[]> border(new std::uint32_t[len]);
  border[0] = 0;
  for (std::size_t i = 1, k = 0; i < len; ++i) {
    while (k > 0 && run[i] != run[k]) k = border[k - 1];
    if (run[i] == run[k]) ++k;
    border[i] = static_cast<std::uint32_t>(k);
  }
  for (std::size_t t = from, k = 0; t < to; ++t) {
    const auto c = static_cast<unsigned char>(text[t]);
    while (k > 0 && c != run[k]) k = border[k - 1];
    if (c == run[k] && ++k == len) return t + 1;
  }
  return npos;
}

// The end of the leftmost occurrence of positions [a, b) in text[from, to),
// or npos: the positions run as a bit mask (shift-and), a new start entering
// at each byte, and reaching the last position means a whole occurrence.
std::size_t find_run(const Program& prog, std::uint32_t a, std::uint32_t b, std::string_view text,
                     std::size_t from, std::size_t to) {
  const std::uint32_t len = b - a;
  if (len <= 64) {
    // The run's bits of a class mask, shifted down to bit 0.
    const std::size_t lo = a >> 6;
    const unsigned shift = a & 63;
    const bool straddles = shift + len > 64;
    const std::uint64_t goal = kOne << (len - 1);
    std::uint64_t live = 0;
    for (std::size_t t = from; t < to; ++t) {
      const std::uint64_t* row = prog.row(static_cast<unsigned char>(text[t])) + lo;
      const std::uint64_t bits = straddles ? (row[0] >> shift) | (row[1] << (64 - shift)) : row[0] >> shift;
      live = ((live << 1) | 1) & bits;
      if (live & goal) return t + 1;
    }
    return npos;
  }
  if (all_literal(prog, a, b)) return find_literal(prog, a, b, text, from, to);
  const std::size_t lo = a >> 6, hi = b >> 6, nw = hi - lo + 1;
  const std::uint64_t first_mask = ~std::uint64_t{0} << (a & 63);
  const std::uint64_t last_mask = (kOne << (b & 63)) - 1;  // positions before b in the last word
  const std::uint64_t start = kOne << (a & 63), goal = kOne << (b & 63);
  Scratch scratch(nw);
  std::uint64_t* live = scratch.get();
  // Live bits sit in words [0, top]: a byte moves them one position on, so
  // only the word after the top can come alive, and dead words above are
  // skipped (a run that dies early costs one word a byte).
  std::size_t top = 0;
  for (std::size_t t = from; t < to; ++t) {
    const std::uint64_t* row = prog.row(static_cast<unsigned char>(text[t])) + lo;
    live[0] |= start;
    std::uint64_t carry = 0;
    const std::size_t end = std::min(top + 1, nw - 1);
    for (std::size_t w = 0; w <= end; ++w) {
      std::uint64_t moved = live[w] & row[w];
      if (w == 0) moved &= first_mask;
      if (w == nw - 1) moved &= last_mask;
      live[w] = (moved << 1) | carry;
      carry = moved >> 63;
    }
    for (top = end; top > 0 && live[top] == 0;) --top;
    if (live[nw - 1] & goal) return t + 1;
  }
  return npos;
}

// Brace-free patterns: every token but `*` takes one byte, so the runs
// between stars have fixed lengths; the first and last are anchored, and
// taking each middle run at its leftmost place leaves the most text for the
// rest. Each byte is read by at most one run search.
bool match_runs(const Program& prog, std::string_view text) {
  const std::uint32_t accept = prog.positions - 1;
  const std::size_t n = text.size();
  const std::uint32_t first = next_star(prog, 0, accept);
  if (first == accept) return n == accept && fits_at(prog, 0, accept, text, 0);
  if (n < first || !fits_at(prog, 0, first, text, 0)) return false;
  const std::uint32_t last = last_star(prog, accept);
  const std::uint32_t tail = accept - 1 - last;
  if (n < std::size_t{first} + tail || !fits_at(prog, last + 1, tail, text, n - tail)) return false;
  std::size_t t = first;
  for (std::uint32_t s = first; s != last;) {
    const std::uint32_t next = next_star(prog, s + 1, accept);
    t = find_run(prog, s + 1, next, text, t, n - tail);
    if (t == npos) return false;
    s = next;
  }
  return true;
}

}  // namespace

// Brace patterns: the text before the first group and after the last
// group's last `*` are anchored and checked first; then one pass over the
// text, each byte costing the words between the first and the last live
// position, plus the groups.
bool step_positions(const Program& prog, std::string_view text) {
  const std::uint32_t accept = prog.positions - 1;
  const std::size_t n = text.size();
  const std::uint32_t head = next_star(prog, 0, prog.groups.front().fork);
  if (n < head || !fits_at(prog, 0, head, text, 0)) return false;
  const std::uint32_t join = prog.groups.back().join;
  const std::uint32_t tail_from = next_star(prog, join, accept) == accept ? join : last_star(prog, accept) + 1;
  const std::uint32_t tail = accept - tail_from;
  if (n < tail || !fits_at(prog, tail_from, tail, text, n - tail)) return false;
  // A live `*` right before the end accepts whatever follows.
  const bool star_tail = accept > 0 && prog.is_star(accept - 1);
  Scratch scratch(prog.words);
  std::uint64_t* live = scratch.get();
  LiveSpan span;
  live[0] = 1;
  close_over(prog, live, span);
  for (const char c : text) {
    if (star_tail && test_bit(live, accept - 1)) return true;
    const std::uint64_t* row = prog.row(static_cast<unsigned char>(c));
    std::uint64_t carry = 0;
    const std::size_t end = std::min<std::size_t>(span.hi + 1, prog.words - 1);
    for (std::size_t w = span.lo; w <= end; ++w) {
      const std::uint64_t moved = live[w] & row[w];
      live[w] = (moved << 1) | carry | (live[w] & prog.star[w]);
      carry = moved >> 63;
    }
    if (live[end]) span.hi = std::max(span.hi, end);
    while (span.lo <= span.hi && live[span.lo] == 0) ++span.lo;
    if (span.lo > span.hi) return false;
    close_over(prog, live, span);
  }
  return test_bit(live, accept);
}

bool match_program(const Program& prog, std::string_view text) {
  if (prog.groups.empty()) return match_runs(prog, text);
  return prog.words == 1 ? step_one_word(prog, text) : step_positions(prog, text);
}

}  // namespace tarnwick
