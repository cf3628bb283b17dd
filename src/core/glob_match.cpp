// Matching a compiled glob (see glob_program.h): brace patterns by stepping
// the set of live positions over the text, brace-free ones by anchoring the
// text before the first `*` and after the last and finding each run between
// stars at its leftmost place; and glob_match's stack-only path for short
// patterns against short texts.
#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <optional>

#include "core/brace.h"
#include "core/glob.h"
#include "core/glob_program.h"
#include "core/glob_tokens.h"

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
  for (const Pattern::GroupLinks& g : prog.groups) {
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
    for (const Pattern::GroupLinks& g : prog.groups) {
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

bool short_enough(std::string_view pattern, std::string_view text) {
  return pattern.size() <= kShortPattern && (pattern.size() + 1) * (text.size() + 1) <= kShortWork;
}

namespace {

struct ShortToken {
  TokKind kind;
  unsigned char byte;
  unsigned char set;
};

}  // namespace

bool match_short(std::string_view pattern, std::string_view text) {
  ShortToken toks[kShortPattern + 1];
  alignas(ByteSet) unsigned char set_storage[kShortPattern / 3 * sizeof(ByteSet)];
  auto* sets = reinterpret_cast<ByteSet*>(set_storage);
  std::size_t m = 0, nsets = 0;
  for_each_token(pattern, false, [&](const Token& tok) {
    toks[m] = {tok.kind, tok.byte, static_cast<unsigned char>(nsets)};
    if (tok.kind == TokKind::Class) new (&sets[nsets++]) ByteSet(tok.set);
    ++m;
  });
  auto hit = [&](const ShortToken& tok, unsigned char b) {
    if (tok.kind == TokKind::Lit) [[likely]] return tok.byte == b;
    return tok.kind == TokKind::Any || sets[tok.set].contains(b);
  };
  const std::size_t n = text.size();
  std::size_t p = 0, t = 0, star_p = npos, star_t = 0;
  toks[m].kind = TokKind::Lit;  // past the last token: never a `*`
  while (t < n) {
    const ShortToken& tok = toks[p];
    if (tok.kind == TokKind::Star) {
      if (++p == m) return true;
      star_p = p;
      star_t = t;
    } else if (p < m && hit(tok, static_cast<unsigned char>(text[t]))) {
      ++p;
      ++t;
    } else if (star_p != npos) {
      p = star_p;
      t = ++star_t;
    } else {
      return false;
    }
  }
  while (p < m && toks[p].kind == TokKind::Star) ++p;
  return p == m;
}

Program Pattern::program() const {
  const ProgramShape& sh = shape_;
  const ProgramLayout at(sh.positions, sh.groups, sh.classes, sh.byte_span);
  const std::uint64_t* data = data_.data();
  const bool linked = sh.groups > 0;
  return {reinterpret_cast<const unsigned char*>(data),
          sh.byte_lo,
          sh.byte_span,
          sh.background,
          data + at.table,
          data + at.star,
          data + at.literal,
          reinterpret_cast<const unsigned char*>(data + at.literal_bytes),
          linked ? data + at.entry : nullptr,
          linked ? data + at.exit : nullptr,
          {linked ? reinterpret_cast<const GroupLinks*>(data + at.links) : nullptr, sh.groups},
          sh.positions,
          static_cast<std::uint32_t>(at.words)};
}

namespace {

// One run of a plain pattern, read from its text: at most kPlainRun tokens,
// each one given byte or (`?`) any byte.
struct PlainRun {
  unsigned char bytes[kPlainRun];
  std::uint64_t any = 0;  // bit k: token k is `?`
  std::uint32_t len = 0;
  bool takes(std::uint32_t k, unsigned char b) const { return bytes[k] == b || ((any >> k) & 1); }
};

// Whether the pattern text [from, to), which holds no `*`, takes exactly
// text[t, t + its length).
bool plain_fits(std::string_view pattern, std::size_t from, std::size_t to, std::string_view text, std::size_t t) {
  for (std::size_t i = from; i < to; ++i, ++t) {
    char c = pattern[i];
    if (c == '?') continue;
    if (c == '\\' && i + 1 < to) c = pattern[++i];
    if (text[t] != c) return false;
  }
  return true;
}

// The end of the leftmost occurrence of `run` in text[from, to), or npos:
// tried at each start while that costs little, else by shift-and over a
// byte table on the stack. Either way O(to - from + 256) steps.
std::size_t find_plain_run(const PlainRun& run, std::string_view text, std::size_t from, std::size_t to) {
  const std::uint32_t len = run.len;
  if (to - from < len) return npos;
  if ((to - from) * len <= 256) {
    for (std::size_t s = from; s + len <= to; ++s) {
      std::uint32_t k = 0;
      while (k < len && run.takes(k, static_cast<unsigned char>(text[s + k]))) ++k;
      if (k == len) return s + len;
    }
    return npos;
  }
  std::uint64_t table[256];
  std::fill(table, table + 256, run.any);
  for (std::uint32_t k = 0; k < len; ++k) table[run.bytes[k]] |= kOne << k;
  const std::uint64_t goal = kOne << (len - 1);
  std::uint64_t live = 0;
  for (std::size_t t = from; t < to; ++t) {
    live = ((live << 1) | 1) & table[static_cast<unsigned char>(text[t])];
    if (live & goal) return t + 1;
  }
  return npos;
}

}  // namespace

// Plain patterns: the ends are anchored, and each run between stars is taken
// at its leftmost place, which leaves the most text for the rest.
bool Pattern::matches_plain(std::string_view text) const {
  const PlainShape& sh = plain_;
  const std::string_view pattern = source_;
  const std::size_t n = text.size();
  if (sh.head_end == pattern.size()) return n == sh.head_len && plain_fits(pattern, 0, sh.head_end, text, 0);
  if (n < std::size_t{sh.head_len} + sh.tail_len || !plain_fits(pattern, 0, sh.head_end, text, 0) ||
      !plain_fits(pattern, sh.tail_start, pattern.size(), text, n - sh.tail_len)) {
    return false;
  }
  std::size_t t = sh.head_len;
  const std::size_t end = n - sh.tail_len;
  PlainRun run;
  for (std::size_t i = sh.head_end; i < sh.tail_start;) {
    run.any = 0;
    run.len = 0;
    for (; pattern[i] != '*'; ++i, ++run.len) {
      char c = pattern[i];
      if (c == '?') run.any |= kOne << run.len;
      if (c == '\\') c = pattern[++i];
      run.bytes[run.len] = static_cast<unsigned char>(c);
    }
    ++i;  // the `*`
    if (run.len == 0) continue;
    t = find_plain_run(run, text, t, end);
    if (t == npos) return false;
  }
  return true;
}

// A class cut by a brace boundary: each alternative compiled and matched
// on its own, short ones on the stack.
bool Pattern::matches_each_alternative(std::string_view text) const {
  const BraceLayout layout = find_brace_groups(source_);
  if (!layout.expands()) return compile_brace_free(source_).matches(text);
  bool hit = false;
  for_each_alternative(source_, layout, [&](std::string_view alt) {
    hit = short_enough(alt, text) ? match_short(alt, text) : compile_brace_free(alt).matches(text);
    return !hit;
  });
  return hit;
}

bool Pattern::matches(std::string_view text) const {
  if (first_byte_ >= 0 && !text.empty() && static_cast<unsigned char>(text[0]) != first_byte_) return false;
  if (form_ == Form::Plain) return matches_plain(text);
  if (form_ == Form::PerAlternative) return matches_each_alternative(text);
  const ProgramShape& sh = shape_;
  const Program prog = program();
  if (sh.groups == 0) return match_runs(prog, text);
  return prog.words == 1 ? step_one_word(prog, text) : step_positions(prog, text);
}

namespace {

// A short pattern with a few brace alternatives: each alternative built on
// the stack and matched as a short pattern; nothing when there are too many.
constexpr std::size_t kShortAlternatives = 8;

std::optional<bool> match_short_braces(std::string_view pattern, std::string_view text) {
  const BraceLayout layout = find_brace_groups(pattern);
  if (!layout.expands()) return match_short(pattern, text);
  if (layout.alternatives > kShortAlternatives) return std::nullopt;
  char buffer[kShortPattern];
  std::size_t choice[kShortPattern / 2] = {};
  do {
    std::size_t size = 0;
    write_alternative(pattern, layout, choice, [&](std::string_view piece) {
      std::copy(piece.begin(), piece.end(), buffer + size);
      size += piece.size();
    });
    if (match_short({buffer, size}, text)) return true;
  } while (next_alternative(layout, choice));
  return false;
}

}  // namespace

bool glob_match(std::string_view pattern, std::string_view text) {
  if (short_enough(pattern, text)) {
    if (pattern.find('{') == npos) return match_short(pattern, text);
    if (const std::optional<bool> hit = match_short_braces(pattern, text)) return *hit;
  }
  return Pattern::compile(pattern).matches(text);
}

std::optional<bool> glob_match_with(GlobEngine engine, std::string_view pattern, std::string_view text) {
  switch (engine) {
    case GlobEngine::Short:
      if (pattern.size() > kShortPattern) return std::nullopt;
      return match_short_braces(pattern, text);
    case GlobEngine::Plain: {
      const Pattern p = Pattern::compile(pattern);
      if (p.form_ != Pattern::Form::Plain) return std::nullopt;
      return p.matches_plain(text);
    }
    case GlobEngine::Positions:
    case GlobEngine::Steps: {
      const std::optional<Pattern> p = Pattern::compile_positions(pattern);
      if (!p) return std::nullopt;
      if (engine == GlobEngine::Positions) return p->matches(text);
      if (p->shape_.groups == 0) return std::nullopt;
      return step_positions(p->program(), text);
    }
    case GlobEngine::Alternatives: {
      Pattern p;
      p.source_.assign(pattern);
      return p.matches_each_alternative(text);
    }
  }
  return std::nullopt;
}

}  // namespace tarnwick
