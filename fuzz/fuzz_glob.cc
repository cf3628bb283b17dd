// Glob compilation and matching.
//
// Input: PATTERN 0xFF TEXT (0xFF never occurs in UTF-8; without it the
// input is both the pattern and the text). Pattern and text each live in a
// heap block of exactly their size, so a read past either end is an ASan
// report. Checks:
//  - brace expansion agrees with the recursive definition (segments, cap);
//  - Pattern::compile keeps its source and one alternative per expansion;
//  - Pattern::matches and glob_match (which matches short patterns on the
//    stack) agree with a position-set matcher over tokens compiled from the
//    rules, on the text and on its prefixes;
//  - the same holds for the pattern written twice, so that patterns and texts
//    run past one and two machine words of positions.
#include <algorithm>
#include <bitset>
#include <string>
#include <string_view>
#include <vector>

#include "core/glob.h"
#include "fuzz_common.h"

namespace {

constexpr std::size_t kCap = 1024;

// Brace expansion exactly as defined: first unescaped `{`, first unescaped
// `}` after it, comma split of the body, recursion on the rest, cap on the
// product.
std::optional<std::vector<std::string>> ref_expand(std::string_view t) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t open = fuzz::ref_find_unescaped(t, '{');
  if (open == npos) return std::vector<std::string>{std::string(t)};
  const std::size_t close = fuzz::ref_find_unescaped(t, '}', open + 1);
  if (close == npos) return std::vector<std::string>{std::string(t)};
  const std::string_view prefix = t.substr(0, open);
  const std::string_view body = t.substr(open + 1, close - open - 1);
  auto rest = ref_expand(t.substr(close + 1));
  if (!rest) return std::nullopt;
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = fuzz::ref_find_unescaped(body, ',', start);
    if (comma == npos) break;
    segments.push_back(body.substr(start, comma - start));
    start = comma + 1;
  }
  segments.push_back(body.substr(start));
  if (segments.size() * rest->size() > kCap) return std::nullopt;
  std::vector<std::string> out;
  for (std::string_view s : segments) {
    for (const std::string& r : *rest) {
      std::string alt(prefix);
      alt.append(s);
      alt.append(r);
      out.push_back(std::move(alt));
    }
  }
  return out;
}

// The number of alternatives ref_expand gives, without building them.
std::optional<std::size_t> ref_count(std::string_view t) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t open = fuzz::ref_find_unescaped(t, '{');
  if (open == npos) return 1;
  const std::size_t close = fuzz::ref_find_unescaped(t, '}', open + 1);
  if (close == npos) return 1;
  const auto rest = ref_count(t.substr(close + 1));
  if (!rest) return std::nullopt;
  const std::string_view body = t.substr(open + 1, close - open - 1);
  std::size_t segments = 1;
  for (std::size_t c = fuzz::ref_find_unescaped(body, ','); c != npos;
       c = fuzz::ref_find_unescaped(body, ',', c + 1)) {
    ++segments;
  }
  if (segments * *rest > kCap) return std::nullopt;
  return segments * *rest;
}

struct RefTok {
  enum Kind { Star, Any, Byte, Class } kind;
  unsigned char byte = 0;
  std::bitset<256> set;  // Class: the bytes it accepts, negation applied
};

// A class starting at the `[` at `i`; fills `tok` and returns the index
// after the closing `]`, or npos when the class is never closed.
std::size_t ref_class(std::string_view s, std::size_t i, RefTok& tok) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t n = s.size();
  std::size_t j = i + 1;
  bool negated = false;
  if (j < n && s[j] == '!') {
    negated = true;
    ++j;
  }
  if (j >= n) return npos;
  struct Item {
    bool dash;
    unsigned char b;
  };
  std::vector<Item> items;
  // The first content byte is always a member.
  if (s[j] == '\\') {
    if (j + 1 < n) {
      items.push_back({false, static_cast<unsigned char>(s[j + 1])});
      j += 2;
    } else {
      return npos;  // the backslash is the member, and the text ends
    }
  } else {
    items.push_back({s[j] == '-', static_cast<unsigned char>(s[j])});
    ++j;
  }
  for (;;) {
    if (j >= n) return npos;
    const char c = s[j];
    if (c == ']') break;
    if (c == '\\') {
      if (j + 1 >= n) return npos;
      items.push_back({false, static_cast<unsigned char>(s[j + 1])});
      j += 2;
    } else {
      items.push_back({c == '-', static_cast<unsigned char>(c)});
      ++j;
    }
  }
  std::bitset<256> set;
  for (std::size_t k = 0; k < items.size();) {
    if (!items[k].dash && k + 2 < items.size() && items[k + 1].dash && !items[k + 2].dash) {
      for (unsigned b = items[k].b; b <= items[k + 2].b; ++b) set[b] = true;
      k += 3;
    } else {
      set[items[k].b] = true;  // a dash marker's byte is `-`
      ++k;
    }
  }
  if (negated) set.flip();
  tok.kind = RefTok::Class;
  tok.set = set;
  return j + 1;
}

std::vector<RefTok> ref_compile_alt(std::string_view s) {
  std::vector<RefTok> toks;
  toks.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    RefTok tok{RefTok::Byte, static_cast<unsigned char>(c), {}};
    if (c == '*') {
      tok.kind = RefTok::Star;
      ++i;
    } else if (c == '?') {
      tok.kind = RefTok::Any;
      ++i;
    } else if (c == '\\') {
      if (i + 1 < s.size()) tok.byte = static_cast<unsigned char>(s[i + 1]);
      i += i + 1 < s.size() ? 2 : 1;
    } else if (c == '[') {
      const std::size_t next = ref_class(s, i, tok);
      if (next == std::string_view::npos) {
        tok = {RefTok::Byte, '[', {}};
        ++i;
      } else {
        i = next;
      }
    } else {
      ++i;
    }
    toks.push_back(tok);
  }
  return toks;
}

// Full match by the set of text positions reachable after each token.
bool ref_match(const std::vector<RefTok>& toks, std::string_view text) {
  const std::size_t n = text.size();
  static std::vector<char> reach, next;
  reach.assign(n + 1, 0);
  next.assign(n + 1, 0);
  reach[0] = 1;
  for (const RefTok& tok : toks) {
    std::fill(next.begin(), next.end(), 0);
    bool any = false;
    if (tok.kind == RefTok::Star) {
      bool on = false;
      for (std::size_t t = 0; t <= n; ++t) {
        on = on || reach[t];
        next[t] = on;
        any = any || on;
      }
    } else {
      for (std::size_t t = 0; t < n; ++t) {
        if (!reach[t]) continue;
        const auto b = static_cast<unsigned char>(text[t]);
        const bool hit = tok.kind == RefTok::Any || (tok.kind == RefTok::Byte && tok.byte == b) ||
                         (tok.kind == RefTok::Class && tok.set[b]);
        if (hit) next[t + 1] = any = true;
      }
    }
    if (!any) return false;
    reach.swap(next);
  }
  return reach[n] != 0;
}

// Checks one pattern against one text and a few of its prefixes.
void check(std::string_view pattern_text, std::string_view full, std::uint32_t hash) {
  const fuzz::HeapText pattern(pattern_text);
  // How many alternatives the braces give, or nothing over the cap; cheap,
  // so it runs on every input.
  const std::optional<std::size_t> count = ref_count(pattern.view());
  const tarnwick::Pattern compiled = tarnwick::Pattern::compile(pattern.view());
  FUZZ_CHECK(compiled.source() == pattern.view());
  FUZZ_CHECK(compiled.alternative_count() == count.value_or(1));

  // Expanding and matching by the reference costs alternatives x pattern
  // (x text). On large expansions (the costly inputs) that runs for one
  // input in four, chosen by the input's bytes so that a replay does the
  // same; the core's own checks run on every input.
  const bool reference = !count || *count <= 64 || hash % 4 == 0;

  std::optional<std::vector<std::string>> ref;
  if (reference) {
    const auto expanded = tarnwick::expand_braces_capped(pattern.view());
    ref = ref_expand(pattern.view());
    FUZZ_CHECK(expanded.has_value() == ref.has_value());
    if (expanded) {
      FUZZ_CHECK(!expanded->empty() && expanded->size() <= kCap);
      FUZZ_CHECK(*expanded == *ref);
    }
  }

  std::vector<std::vector<RefTok>> alts;
  std::size_t pattern_bytes = 0;
  if (!reference) {
    // no reference for this input
  } else if (ref) {
    for (const std::string& alt : *ref) {
      alts.push_back(ref_compile_alt(alt));
      pattern_bytes += alt.size() + 1;
    }
  } else {
    alts.push_back(ref_compile_alt(pattern.view()));
    pattern_bytes = pattern.view().size() + 1;
  }

  // The text, then a few of its prefixes, each in its own exact-size block.
  // glob_match is compared on every text, except that large expansions (the
  // costly inputs) are matched on the whole and empty texts only.
  const std::size_t alternatives = compiled.alternative_count();
  const std::size_t lengths[] = {full.size(), 0, full.size() / 2, full.size() > 0 ? full.size() - 1 : 0};
  const std::size_t texts = alternatives > 64 ? 2 : 4;
  for (std::size_t k = 0; k < texts; ++k) {
    const std::size_t len = lengths[k];
    const fuzz::HeapText t(full.substr(0, len));
    const bool got = compiled.matches(t.view());
    FUZZ_CHECK(tarnwick::glob_match(pattern.view(), t.view()) == got);
    // The reference costs pattern x text steps; skip it where that is large.
    if (!reference || pattern_bytes * (len + 1) > (std::size_t{1} << 21)) continue;
    bool want = false;
    for (const auto& toks : alts) {
      if (ref_match(toks, t.view())) {
        want = true;
        break;
      }
    }
    FUZZ_CHECK(got == want);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  const std::string_view input = fuzz::as_text(data, size);
  const std::size_t cut = input.find('\xff');
  const std::string_view pattern = cut == std::string_view::npos ? input : input.substr(0, cut);
  const std::string_view text = cut == std::string_view::npos ? input : input.substr(cut + 1);
  std::uint32_t hash = 2166136261u;
  for (char c : input) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  check(pattern, text, hash);
  // Twice over: long patterns and texts from short inputs.
  const std::string twice = std::string(pattern) + std::string(pattern);
  check(twice, std::string(text) + std::string(text), hash >> 2);
  return 0;
}
