// The text-reading matchers (see glob_text.h).
#include "core/glob_text.h"

#include <algorithm>
#include <limits>
#include <new>

#include "core/brace.h"
#include "core/glob_tokens.h"
#include "core/scan.h"

namespace tarnwick {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::uint64_t kOne = 1;

}  // namespace

bool plain_shape(std::string_view text, PlainShape& shape) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t n = text.size();
  if (n >= std::numeric_limits<std::uint32_t>::max()) return false;
  bool starred = false;
  std::uint32_t run = 0;  // tokens since the latest `*` (or the start)
  bool open_seen = false;  // a `{` without a `}` after it: no `{` can open a group
  shape.head_end = shape.tail_start = static_cast<std::uint32_t>(n);
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '[') return false;
    if (c != '*') {
      if (c == '\\') ++i;
      if (c == '{' && !open_seen) {
        if (find_unescaped(text, '}', i + 1) != npos) return false;
        open_seen = true;
      }
      ++run;
      continue;
    }
    if (!starred) {
      shape.head_end = static_cast<std::uint32_t>(i);
      shape.head_len = run;
    } else if (run > kPlainRun) {
      return false;
    }
    starred = true;
    run = 0;
    shape.tail_start = static_cast<std::uint32_t>(i + 1);
  }
  if (!starred) shape.head_len = run;
  shape.tail_len = starred ? run : 0;
  return true;
}

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
  std::size_t n = text.size();
  if (m > 0 && toks[m - 1].kind != TokKind::Star) {
    // The tokens after the last `*` take the last bytes of the text, one
    // each: checked there first, and the rest ends with that `*`.
    std::size_t tail_from = m - 1;
    while (tail_from > 0 && toks[tail_from - 1].kind != TokKind::Star) --tail_from;
    const std::size_t tail = m - tail_from;
    if (tail_from > 0) {
      if (n < tail) return false;
      n -= tail;
      for (std::size_t k = 0; k < tail; ++k) {
        if (!hit(toks[tail_from + k], static_cast<unsigned char>(text[n + k]))) return false;
      }
      m = tail_from;
    }
  }
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

namespace {

constexpr std::size_t kShortAlternatives = 8;

}  // namespace

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

bool match_plain(std::string_view pattern, const PlainShape& sh, std::string_view text) {
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

}  // namespace tarnwick
