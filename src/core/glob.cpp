#include "core/glob.h"

#include <new>
#include <span>

#include "core/scan.h"

namespace tarnwick {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Brace groups of a pattern, found left to right without recursion: each
// group is the first unescaped `{` and the first unescaped `}` after it;
// braces do not nest.
struct BraceGroup {
  std::size_t open;
  std::size_t close;
  std::size_t first_segment;
  std::size_t segment_count;
};

struct BraceLayout {
  std::vector<BraceGroup> groups;
  std::vector<std::string_view> segments;
  std::size_t alternatives = 1;  // product of the segment counts, capped
  bool over_cap = false;
};

BraceLayout find_brace_groups(std::string_view text) {
  BraceLayout layout;
  if (text.find('{') == npos) return layout;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = find_unescaped(text, '{', pos);
    if (open == npos) break;
    const std::size_t close = find_unescaped(text, '}', open + 1);
    if (close == npos) break;
    const std::size_t first = layout.segments.size();
    std::size_t start = open + 1;
    for (;;) {
      const std::size_t comma = find_unescaped(text.substr(0, close), ',', start);
      if (comma == npos) break;
      layout.segments.push_back(text.substr(start, comma - start));
      start = comma + 1;
    }
    layout.segments.push_back(text.substr(start, close - start));
    const std::size_t count = layout.segments.size() - first;
    layout.groups.push_back({open, close, first, count});
    if (!layout.over_cap) {
      layout.alternatives *= count;
      if (layout.alternatives > BRACE_EXPANSION_CAP) layout.over_cap = true;
    }
    pos = close + 1;
  }
  return layout;
}

// Calls `emit` with each alternative of `layout` in expansion order: the
// first group varies slowest. `scratch` holds the alternative being built.
template <class Emit>
void for_each_alternative(std::string_view text, const BraceLayout& layout, Emit emit) {
  const std::size_t k = layout.groups.size();
  std::vector<std::size_t> choice(k, 0);
  std::string scratch;
  for (;;) {
    scratch.clear();
    std::size_t pos = 0;
    for (std::size_t g = 0; g < k; ++g) {
      const BraceGroup& group = layout.groups[g];
      scratch.append(text.substr(pos, group.open - pos));
      scratch.append(layout.segments[group.first_segment + choice[g]]);
      pos = group.close + 1;
    }
    scratch.append(text.substr(pos));
    emit(std::string_view(scratch));
    std::size_t g = k;
    while (g > 0 && ++choice[g - 1] == layout.groups[g - 1].segment_count) {
      choice[--g] = 0;
    }
    if (g == 0) return;
  }
}

// Total bytes over all alternatives, an upper bound on their token count.
std::size_t expanded_size(std::string_view text, const BraceLayout& layout) {
  std::size_t fixed = text.size();
  std::size_t total = 0;
  for (const BraceGroup& group : layout.groups) {
    fixed -= group.close + 1 - group.open;
    std::size_t segment_bytes = 0;
    for (std::size_t s = 0; s < group.segment_count; ++s) {
      segment_bytes += layout.segments[group.first_segment + s].size();
    }
    total += segment_bytes * (layout.alternatives / group.segment_count);
  }
  return total + fixed * layout.alternatives;
}

// Turns the members of a class into a byte-set as they are read, left to
// right: a literal, a dash marker and a literal form a range; any other
// literal is itself; a dash marker outside such a triple is `-`.
class ClassBuilder {
 public:
  void literal(unsigned char b) {
    if (pending_ == Pending::LiteralDash) {
      set_.add_range(low_, b);
      pending_ = Pending::None;
      return;
    }
    flush();
    low_ = b;
    pending_ = Pending::Literal;
  }
  void dash() {
    if (pending_ == Pending::Literal) {
      pending_ = Pending::LiteralDash;
      return;
    }
    flush();
    set_.add('-');
  }
  ByteSet finish(bool negated) {
    flush();
    if (negated) {
      for (auto& word : set_.bits) word = ~word;
    }
    return set_;
  }

 private:
  enum class Pending { None, Literal, LiteralDash };
  void flush() {
    if (pending_ != Pending::None) set_.add(low_);
    if (pending_ == Pending::LiteralDash) set_.add('-');
    pending_ = Pending::None;
  }
  ByteSet set_;
  unsigned char low_ = 0;
  Pending pending_ = Pending::None;
};

// For each position k of `s`, the first unescaped `]` at or after k (a
// backslash hides the byte after it), or kNone: one pass from the right, so
// that telling whether a class is closed never rescans the text.
constexpr std::uint32_t kNone = 0xFFFFFFFF;

void find_closers(std::string_view s, std::span<std::uint32_t> closers) {
  const std::size_t n = s.size();
  closers[n] = closers[n + 1] = kNone;
  for (std::size_t k = n; k-- > 0;) {
    if (s[k] == ']') {
      closers[k] = static_cast<std::uint32_t>(k);
    } else if (s[k] == '\\') {
      closers[k] = k + 1 < n ? closers[k + 2] : kNone;
    } else {
      closers[k] = closers[k + 1];
    }
  }
}

// Reads the class starting at the `[` at `open`. On success fills `set`
// and returns the index just past the closing `]`; returns npos when the
// class is never closed.
std::size_t read_class(std::string_view s, std::size_t open, std::span<const std::uint32_t> closers,
                       ByteSet& set) {
  const std::size_t n = s.size();
  std::size_t j = open + 1;
  const bool negated = j < n && s[j] == '!';
  if (negated) ++j;
  if (j >= n) return npos;
  ClassBuilder members;
  // One member at j: `\` and a byte, a dash marker, or any other byte (a
  // backslash as the last byte is itself a member).
  auto read_member = [&] {
    if (s[j] == '\\' && j + 1 < n) {
      members.literal(static_cast<unsigned char>(s[j + 1]));
      j += 2;
    } else if (s[j] == '-') {
      members.dash();
      j += 1;
    } else {
      members.literal(static_cast<unsigned char>(s[j]));
      j += 1;
    }
  };
  // The first content byte is always a member, even `]`.
  read_member();
  std::size_t close = kNone;
  if (j < n) close = closers.empty() ? find_unescaped(s, ']', j) : closers[j];
  if (close == kNone || close == npos) return npos;
  while (j < close) read_member();
  set = members.finish(negated);
  return close + 1;
}

// Where compiled tokens go: a growing vector for a kept Pattern, or a
// fixed array on the stack for a pattern matched once.
template <class Classes>
struct VectorOut {
  std::vector<Tok>& toks;
  Classes classes;  // gives the vector of byte-sets, made on first use
  std::size_t size() const { return toks.size(); }
  void push(Tok t) { toks.push_back(t); }
  void set_arg(std::size_t i, std::uint32_t arg) { toks[i].arg = arg; }
  std::uint32_t add_class(const ByteSet& set) {
    std::vector<ByteSet>& all = classes();
    all.push_back(set);
    return static_cast<std::uint32_t>(all.size() - 1);
  }
};
// Spelled out for compilers without deduction for aggregates (clang < 17).
template <class Classes>
VectorOut(std::vector<Tok>&, Classes) -> VectorOut<Classes>;

template <std::size_t MaxToks>
class ArrayOut {
 public:
  std::size_t size() const { return ntoks_; }
  void push(Tok t) { new (&toks()[ntoks_++]) Tok(t); }
  void set_arg(std::size_t i, std::uint32_t arg) { toks()[i].arg = arg; }
  std::uint32_t add_class(const ByteSet& set) {
    new (&classes()[nclasses_]) ByteSet(set);
    return static_cast<std::uint32_t>(nclasses_++);
  }
  Tok* toks() { return reinterpret_cast<Tok*>(tok_storage_); }
  ByteSet* classes() { return reinterpret_cast<ByteSet*>(class_storage_); }

 private:
  // Uninitialised: only what is pushed gets written.
  alignas(Tok) unsigned char tok_storage_[MaxToks * sizeof(Tok)];
  alignas(ByteSet) unsigned char class_storage_[MaxToks / 2 * sizeof(ByteSet)];
  std::size_t ntoks_ = 0;
  std::size_t nclasses_ = 0;
};

// Appends the tokens of one brace-free text: at most one per byte, and at
// most one class per two bytes. `closers` is scratch space of at least
// text.size() + 2 entries, used when the text holds a `[`; when it is empty,
// each class looks for its `]` by scanning, which is quadratic in the worst
// case and so only for short texts.
template <class Out>
void compile_tokens(std::string_view alt, Out& out, std::span<std::uint32_t> closers) {
  const std::size_t n = alt.size();
  if (!closers.empty() && alt.find('[') != npos) find_closers(alt, closers);
  std::size_t i = 0;
  while (i < n) {
    const char c = alt[i];
    if (c == '*') {
      out.push({TokKind::Star});
      ++i;
    } else if (c == '?') {
      out.push({TokKind::Any});
      ++i;
    } else if (c == '\\') {
      const bool trailing = i + 1 == n;
      out.push({TokKind::Lit, static_cast<unsigned char>(trailing ? '\\' : alt[i + 1])});
      i += trailing ? 1 : 2;
    } else if (c == '[') {
      ByteSet set;
      const std::size_t next = read_class(alt, i, closers, set);
      if (next == npos) {
        out.push({TokKind::Lit, '['});
        ++i;
      } else {
        out.push({TokKind::Class, 0, out.add_class(set)});
        i = next;
      }
    } else {
      out.push({TokKind::Lit, static_cast<unsigned char>(c)});
      ++i;
    }
  }
}

// One alternative, framed by Alt ... End.
template <class Out>
void compile_alt(std::string_view alt, Out& out, std::span<std::uint32_t> closers) {
  const std::size_t frame = out.size();
  out.push({TokKind::Alt});
  compile_tokens(alt, out, closers);
  out.push({TokKind::End});
  out.set_arg(frame, static_cast<std::uint32_t>(out.size()));
}

// Token streams the matcher runs over: `at(p)` is the token at position p
// (End past the last one) and `next(p)` the position after it.
struct CompiledToks {
  using Pos = std::size_t;
  const Tok* toks;
  const ByteSet* classes;
  Tok at(Pos p) const { return toks[p]; }
  Pos next(Pos p) const { return p + 1; }
  bool in_class(const Tok& t, unsigned char b) const { return classes[t.arg].contains(b); }
};

// A pattern text without braces or classes, read as tokens in place.
struct RawToks {
  using Pos = std::size_t;
  std::string_view s;
  Tok at(Pos p) const {
    if (p >= s.size()) return {TokKind::End};
    switch (s[p]) {
      case '*': return {TokKind::Star};
      case '?': return {TokKind::Any};
      case '\\':
        return {TokKind::Lit, static_cast<unsigned char>(p + 1 < s.size() ? s[p + 1] : '\\')};
      default: return {TokKind::Lit, static_cast<unsigned char>(s[p])};
    }
  }
  Pos next(Pos p) const { return p + (s[p] == '\\' && p + 1 < s.size() ? 2 : 1); }
  bool in_class(const Tok&, unsigned char) const { return false; }
};

// One alternative of a Pieces pattern: a few runs of tokens read one after
// the other.
struct PieceToks {
  struct Pos {
    std::uint32_t run;
    std::uint32_t index;
  };
  const Tok* toks;
  const TokRun* runs;
  std::uint32_t count;

  Pos settle(Pos p) const {
    while (p.run < count && p.index == runs[p.run].end) {
      if (++p.run < count) p.index = runs[p.run].begin;
    }
    return p;
  }
  Pos start() const { return settle({0, runs[0].begin}); }
  Tok at(Pos p) const { return p.run < count ? toks[p.index] : Tok{TokKind::End}; }
  Pos next(Pos p) const { return settle({p.run, p.index + 1}); }
  bool in_class(const Tok&, unsigned char) const { return false; }
};

// Full match of `text` against one alternative, remembering only the latest
// `*` and restarting from it one byte further each time the rest fails.
template <class Toks>
bool match_alternative(const Toks& toks, typename Toks::Pos p, std::string_view text) {
  std::size_t t = 0;
  bool starred = false;
  typename Toks::Pos star_p = p;
  std::size_t star_t = 0;
  const std::size_t n = text.size();
  while (t < n) {
    const Tok tok = toks.at(p);
    if (tok.kind == TokKind::Star) {
      starred = true;
      star_p = p;
      star_t = t;
      p = toks.next(p);
      // A star that ends the alternative absorbs the rest of the text.
      if (toks.at(p).kind == TokKind::End) return true;
      continue;
    }
    const auto b = static_cast<unsigned char>(text[t]);
    const bool hit = tok.kind == TokKind::Any || (tok.kind == TokKind::Lit && tok.byte == b) ||
                     (tok.kind == TokKind::Class && toks.in_class(tok, b));
    if (hit) {
      p = toks.next(p);
      ++t;
    } else if (starred) {
      t = ++star_t;
      p = toks.next(star_p);
    } else {
      return false;
    }
  }
  while (toks.at(p).kind == TokKind::Star) p = toks.next(p);
  return toks.at(p).kind == TokKind::End;
}

// Every alternative compiled in full costs the product of the alternatives
// and the text length; past 2^28 tokens (2 GiB) compiling reports an
// allocation failure instead of exhausting the machine. Only brace patterns
// that also hold a class are compiled this way.
constexpr std::size_t kMaxTokens = std::size_t{1} << 28;

std::vector<std::uint32_t> closer_scratch(std::size_t longest) {
  if (longest + 2 >= kNone) throw std::bad_alloc();
  return std::vector<std::uint32_t>(longest + 2);
}

}  // namespace

Pattern Pattern::compile(std::string_view text) {
  Pattern pattern;
  pattern.source_.assign(text);
  VectorOut out{pattern.toks_, [&pattern]() -> std::vector<ByteSet>& { return pattern.extra().classes; }};
  const BraceLayout layout = find_brace_groups(text);
  const bool has_class = text.find('[') != npos;
  std::vector<std::uint32_t> closers = has_class ? closer_scratch(text.size()) : std::vector<std::uint32_t>();

  if (layout.groups.empty() || layout.over_cap) {
    pattern.toks_.reserve(text.size() + 2);
    compile_alt(text, out, closers);
    return pattern;
  }

  if (!has_class) {
    // Without classes every token lies within one piece (escapes never
    // cross a brace), so the pieces compile on their own. Groups with one
    // segment are plain text and join the fixed runs around them.
    pattern.toks_.reserve(text.size());
    std::string fixed;
    auto add_run = [&](std::string_view piece) {
      const auto begin = static_cast<std::uint32_t>(pattern.toks_.size());
      compile_tokens(piece, out, closers);
      pattern.extra().runs.push_back({begin, static_cast<std::uint32_t>(pattern.toks_.size())});
    };
    std::size_t pos = 0;
    for (const BraceGroup& group : layout.groups) {
      fixed.append(text.substr(pos, group.open - pos));
      pos = group.close + 1;
      if (group.segment_count == 1) {
        fixed.append(layout.segments[group.first_segment]);
        continue;
      }
      add_run(fixed);
      fixed.clear();
      pattern.extra().groups.push_back({static_cast<std::uint32_t>(pattern.extra().runs.size()),
                                 static_cast<std::uint32_t>(group.segment_count)});
      for (std::size_t k = 0; k < group.segment_count; ++k) {
        add_run(layout.segments[group.first_segment + k]);
      }
    }
    fixed.append(text.substr(pos));
    add_run(fixed);
    return pattern;
  }

  const std::size_t bound = expanded_size(text, layout) + 2 * layout.alternatives;
  if (bound > kMaxTokens) throw std::bad_alloc();
  pattern.toks_.reserve(bound);
  for_each_alternative(text, layout, [&](std::string_view alt) { compile_alt(alt, out, closers); });
  return pattern;
}

Pattern::Pattern(const Pattern& other)
    : source_(other.source_),
      toks_(other.toks_),
      extra_(other.extra_ ? std::make_unique<PatternExtra>(*other.extra_) : nullptr) {}

Pattern& Pattern::operator=(const Pattern& other) {
  if (this != &other) *this = Pattern(other);
  return *this;
}

PatternExtra& Pattern::extra() {
  if (!extra_) extra_ = std::make_unique<PatternExtra>();
  return *extra_;
}

bool Pattern::matches(std::string_view text) const {
  if (has_pieces()) return matches_pieces(text);
  const CompiledToks toks{toks_.data(), extra_ ? extra_->classes.data() : nullptr};
  for (std::size_t alt = 0; alt < toks_.size(); alt = toks_[alt].arg) {
    if (match_alternative(toks, alt + 1, text)) return true;
  }
  return false;
}

bool Pattern::matches_pieces(std::string_view text) const {
  // At most 1024 alternatives means at most ten groups of two or more.
  constexpr std::size_t kMaxGroups = 10;
  const std::vector<TokRun>& runs = extra_->runs;
  const std::vector<TokRun>& groups = extra_->groups;
  const std::size_t k = groups.size();
  std::uint32_t choice[kMaxGroups] = {};
  TokRun alt[2 * kMaxGroups + 1];
  for (;;) {
    std::uint32_t count = 0;
    alt[count++] = runs[0];
    for (std::size_t g = 0; g < k; ++g) {
      alt[count++] = runs[groups[g].begin + choice[g]];
      alt[count++] = runs[groups[g].begin + groups[g].end];  // the fixed run after it
    }
    const PieceToks toks{toks_.data(), alt, count};
    if (match_alternative(toks, toks.start(), text)) return true;
    std::size_t g = k;
    while (g > 0 && ++choice[g - 1] == groups[g - 1].end) choice[--g] = 0;
    if (g == 0) return false;
  }
}

std::size_t Pattern::alternative_count() const {
  if (has_pieces()) {
    std::size_t count = 1;
    for (const TokRun& group : extra_->groups) count *= group.end;
    return count;
  }
  std::size_t count = 0;
  for (std::size_t alt = 0; alt < toks_.size(); alt = toks_[alt].arg) ++count;
  return count;
}

std::optional<std::vector<std::string>> expand_braces_capped(std::string_view text) {
  const BraceLayout layout = find_brace_groups(text);
  if (layout.over_cap) return std::nullopt;
  std::vector<std::string> out;
  if (layout.groups.empty()) {
    out.emplace_back(text);
    return out;
  }
  for_each_alternative(text, layout, [&](std::string_view alt) { out.emplace_back(alt); });
  return out;
}

bool glob_match(std::string_view pattern, std::string_view text) {
  // Short patterns without braces compile onto the stack; longer ones and
  // brace patterns go through a Pattern.
  constexpr std::size_t kShort = 62;
  if (pattern.find('{') == std::string_view::npos) {
    if (pattern.find('[') == std::string_view::npos) {
      return match_alternative(RawToks{pattern}, 0, text);
    }
    if (pattern.size() <= kShort) {
      ArrayOut<kShort + 2> out;
      compile_alt(pattern, out, {});
      return match_alternative(CompiledToks{out.toks(), out.classes()}, 1, text);
    }
  }
  return Pattern::compile(pattern).matches(text);
}

}  // namespace tarnwick
