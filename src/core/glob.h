// Glob patterns: `*` (any run of bytes, `/` included), `?` (one byte),
// `[...]` / `[!...]` (one byte in or not in a class), `{a,b}` (alternatives,
// expanded before anything else, at most 1024 of them) and `\` (escape).
//
// Compilation never fails: malformed syntax reads as literal characters.
// (Memory is the one limit: a brace pattern that also holds a class is
// compiled once per alternative, and past 2^28 tokens compiling throws
// std::bad_alloc, which the module reports as MemoryError.)
// Matching is a full match of the whole text, byte by byte over UTF-8,
// case-sensitive, with one backtrack point per alternative (the latest `*`),
// so it takes at most about len(text) x len(alternative) steps and never
// allocates.
//
//   Pattern::compile("*.{c,h}").matches("src/a.h")   == true
//   glob_match("[!a-c]", "d")                         == true
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::size_t BRACE_EXPANSION_CAP = 1024;

// One byte-set for a compiled `[...]`; negation is folded in.
struct ByteSet {
  std::uint64_t bits[4] = {0, 0, 0, 0};
  void add(unsigned char b) { bits[b >> 6] |= std::uint64_t{1} << (b & 63); }
  // Every byte from lo to hi inclusive; nothing when lo > hi.
  void add_range(unsigned char lo, unsigned char hi) {
    for (unsigned word = lo >> 6; lo <= hi && word <= static_cast<unsigned>(hi >> 6); ++word) {
      const unsigned first = word == static_cast<unsigned>(lo >> 6) ? lo & 63 : 0;
      const unsigned last = word == static_cast<unsigned>(hi >> 6) ? hi & 63 : 63;
      const std::uint64_t upto_last = last == 63 ? ~std::uint64_t{0} : (std::uint64_t{1} << (last + 1)) - 1;
      bits[word] |= upto_last & ~((std::uint64_t{1} << first) - 1);
    }
  }
  bool contains(unsigned char b) const { return (bits[b >> 6] >> (b & 63)) & 1; }
};

enum class TokKind : std::uint8_t {
  Star,   // `*`
  Any,    // `?`
  Lit,    // one literal byte
  Class,  // `[...]`: `arg` indexes the pattern's byte-sets
  Alt,    // starts an alternative: `arg` is the index of the next one
  End,    // ends an alternative
};

struct Tok {
  TokKind kind;
  unsigned char byte = 0;
  std::uint32_t arg = 0;
};

// A run of tokens in Pattern storage: [begin, end).
struct TokRun {
  std::uint32_t begin;
  std::uint32_t end;
};

// What only some patterns need: byte-sets for classes, and the pieces of a
// brace pattern. Kept apart so that a plain pattern stays small.
struct PatternExtra {
  std::vector<ByteSet> classes;
  // For brace patterns without classes: the text around the groups and
  // every segment compiled once, as runs of tokens, and an alternative is a
  // choice of one segment per group. `runs` is [fixed0, segments of group
  // 1..., fixed1, ...]; `groups` gives each group's first segment run and
  // its number of segments.
  std::vector<TokRun> runs;
  std::vector<TokRun> groups;
};

class Pattern {
 public:
  static Pattern compile(std::string_view text);

  Pattern(const Pattern& other);
  Pattern& operator=(const Pattern& other);
  Pattern(Pattern&&) noexcept = default;
  Pattern& operator=(Pattern&&) noexcept = default;
  ~Pattern() = default;

  bool matches(std::string_view text) const;
  // The pattern text exactly as compiled: braces and escapes included.
  const std::string& source() const { return source_; }
  std::size_t alternative_count() const;

 private:
  Pattern() = default;
  bool matches_pieces(std::string_view text) const;
  bool has_pieces() const { return extra_ && !extra_->runs.empty(); }
  PatternExtra& extra();

  std::string source_;
  // Without pieces: every alternative in full, each framed by Alt ... End.
  // With pieces: the runs, back to back.
  std::vector<Tok> toks_;
  std::unique_ptr<PatternExtra> extra_;
};

// The brace-free alternatives of `text` in expansion order, or nothing when
// there would be more than BRACE_EXPANSION_CAP of them.
std::optional<std::vector<std::string>> expand_braces_capped(std::string_view text);

// Compiles `pattern` and matches `text`. Patterns without braces or classes
// are matched straight from their text, without compiling.
bool glob_match(std::string_view pattern, std::string_view text);

}  // namespace tarnwick
