// The compiled form of a glob, as the matcher reads it.
//
// A pattern is laid out as numbered positions. Each brace-free piece (the
// text between groups, and each segment of a group) gets one position per
// token and one after its last token: for the text between groups that one
// forks into the next group's segments (or, after the last group, accepts),
// and for a segment it is the segment's exit, which joins the text after the
// group. A set of live positions is a bit mask of `words` 64-bit words.
//
// Bytes fall into classes that no token tells apart (usually a handful), and
// each class has one mask: the token positions that accept its bytes. A byte
// moves every live token position that accepts it one position on; a live
// `*` stays live, and also makes the position after it live. Classes are
// stored once, as a column of these masks, so nothing grows with the number
// of alternatives.
#pragma once

#include <cstdint>
#include <span>

#include "core/glob.h"

namespace tarnwick {

struct Program {
  const unsigned char* byte_class;  // for bytes byte_lo .. byte_lo + byte_span - 1
  unsigned byte_lo, byte_span, background;  // every other byte is in class `background`
  const std::uint64_t* table;       // one mask per byte class
  const std::uint64_t* star;        // the `*` positions
  const std::uint64_t* literal;     // the positions that take one given byte
  const unsigned char* literal_byte;  // and that byte, by position
  const std::uint64_t* entry;       // segment entries, and the position after an entry `*`
  const std::uint64_t* exit;        // segment exits
  std::span<const Pattern::GroupLinks> groups;
  std::uint32_t positions;  // the last one accepts
  std::uint32_t words;

  const std::uint64_t* row(unsigned char b) const {
    const unsigned i = b - byte_lo;
    return table + std::size_t{i < byte_span ? byte_class[i] : background} * words;
  }
  bool accepts(std::uint32_t pos, unsigned char b) const { return (row(b)[pos >> 6] >> (pos & 63)) & 1; }
  bool is_star(std::uint32_t pos) const { return (star[pos >> 6] >> (pos & 63)) & 1; }
};

// Where each part lives in Pattern::data_.
inline std::size_t byte_map_words(unsigned span) { return (std::size_t{span} + 7) / 8; }
inline std::size_t words_for(std::uint32_t positions) { return (std::size_t{positions} + 63) / 64; }
inline std::size_t literal_words(std::uint32_t positions) { return (std::size_t{positions} + 7) / 8; }
inline std::size_t group_words(std::uint32_t groups) {
  return (std::size_t{groups} * sizeof(Pattern::GroupLinks) + 7) / 8;
}

// The longest run between two stars that a plain pattern (see
// Pattern::Form) holds; longer ones are compiled into positions.
inline constexpr std::uint32_t kPlainRun = 64;

// Short brace-free patterns against short texts skip compiling: read into
// tokens on the stack and matched with one backtrack point (the latest `*`),
// at most pattern x text steps, which short_enough keeps under a few
// thousand.
inline constexpr std::size_t kShortPattern = 64;
inline constexpr std::size_t kShortWork = 4096;
bool short_enough(std::string_view pattern, std::string_view text);
bool match_short(std::string_view brace_free, std::string_view text);

}  // namespace tarnwick
