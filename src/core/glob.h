// Glob patterns: `*` (any run of bytes, `/` included), `?` (one byte),
// `[...]` / `[!...]` (one byte in or not in a class), `{a,b}` (alternatives,
// expanded before anything else, at most 1024 of them) and `\` (escape).
//
// Compilation never fails: malformed syntax reads as literal characters.
// Matching is a full match of the whole text, byte by byte over UTF-8,
// case-sensitive.
//
// Bounds: a compiled pattern of m bytes holds O(m) bytes (at most about 34
// per pattern byte, whatever the number of brace alternatives), and matching
// a text of n bytes takes O(n * m / 64) word steps with no recursion; only a
// class cut by a brace boundary (`{a,[}b]`) costs more. Then the groups with
// a `[`, `]` or `\` in a segment are expanded, and each choice of them is
// compiled, when matched, as a pattern whose other groups stay groups; a
// class that still spans such groups is read once per distinct reading,
// group by group (equal readings merge), and the readings that close at one
// `]` are written in its place as one group of classes. That is O(A * m)
// steps for the readings plus O(C * (m + n * m / 64)) for C compiled
// patterns, A the alternatives (at most 1024) and C the choices of the
// first kind times the `]` the readings close at (usually one; at most A),
// memory O(m) plus at most 260 bytes a reading. Measured against its uncut twin (`{a,b}` for `{a,[}`),
// `*{x,[}` + `{a,b}`x9 + `?a`xk + `*]`: about 1 times; the worst shape, nine
// groups whose 512 readings all differ (`{A,B}{C,D}`...), 12 to 21 times,
// 4 ms at 4 KB / 8 KB (bench_glob.py, section cut). Most patterns
// (no braces, no classes, no run of more than 64 bytes between two stars)
// keep only their text and are matched from it in O(n + m) steps.
//
//   Pattern::compile("*.{c,h}").matches("src/a.h")   == true
//   glob_match("[!a-c]", "d")                         == true
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/compact.h"

namespace tarnwick {

struct Program;

// The engines a pattern may be matched with. Tests run each on its own
// through glob_match_with; everyone else lets glob_match or Pattern choose.
enum class GlobEngine : std::uint8_t {
  Short,         // read from the text on the stack (at most 64 pattern bytes, 8 alternatives)
  Plain,         // anchored ends and leftmost runs, read from the text (no classes, braces or long runs)
  Positions,     // the compiled positions, dispatched as Pattern::matches does
  Steps,         // the compiled positions of a brace pattern, stepped over several words
  Alternatives,  // each brace alternative compiled and matched on its own
};

inline constexpr std::size_t BRACE_EXPANSION_CAP = 1024;

class Pattern {
 public:
  static Pattern compile(std::string_view text);

  bool matches(std::string_view text) const;
  // The pattern text exactly as compiled: braces and escapes included.
  std::string_view source() const { return source_; }
  std::size_t alternative_count() const { return alternatives_; }

  // Room for the shape of the form (glob_shape.h, for the engines only).
  struct ShapeWords {
    std::uint32_t words[4];
  };

 private:
  friend class PatternBuilder;
  friend std::optional<bool> glob_match_with(GlobEngine, std::string_view, std::string_view);
  Pattern() = default;
  // The positions form whatever the pattern's shape, or nothing when a class
  // is cut by a brace boundary.
  static std::optional<Pattern> compile_positions(std::string_view text);
  // The positions form of a text whose braces are literal: one alternative.
  static Pattern compile_brace_free(std::string_view text);
  bool matches_each_alternative(std::string_view text) const;
  static bool matches_one_at_a_time(std::string_view pattern, std::string_view text);
  static bool matches_collapsed(std::string_view pattern, std::string_view text);
  Program program() const;

  enum class Form : std::uint8_t {
    Plain,           // matched from source_; data_ is empty
    Positions,       // data_ holds the positions (see glob_program.h)
    PerAlternative,  // a class cut by a brace boundary: read by its alternatives when matched
  };

  // Compact holders (16 and 8 bytes): every directive keeps one or two
  // patterns, most of them a few bytes of text.
  CompactText source_;
  // Byte-to-class map, one mask per byte class, the star mask, the literal
  // mask and bytes, and for brace patterns the segment entry and exit masks
  // and the group links; one allocation, only for Form::Positions (its
  // length follows from shape_).
  WordArray data_;
  std::uint32_t alternatives_ = 1;
  Form form_ = Form::Plain;
  // The byte a brace-free pattern's first position takes, if it takes one
  // given byte: most directives' names fail right there.
  std::int16_t first_byte_ = -1;
  ShapeWords shape_{};  // a PlainShape or a ProgramShape, as form_ says
};

// The brace-free alternatives of `text` in expansion order, or nothing when
// there would be more than BRACE_EXPANSION_CAP of them.
std::optional<std::vector<std::string>> expand_braces_capped(std::string_view text);

// `pattern` matched against `text` by `engine`, or nothing when that engine
// cannot take the pattern.
std::optional<bool> glob_match_with(GlobEngine engine, std::string_view pattern, std::string_view text);

// Compiles `pattern` and matches `text`. Plain patterns (see Pattern::Form)
// are matched from their text, and other short ones against short texts on
// the stack, without building a Pattern.
bool glob_match(std::string_view pattern, std::string_view text);

}  // namespace tarnwick
