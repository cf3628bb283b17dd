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

#include "core/glob_shape.h"

namespace tarnwick {

// The bit helpers of every position mask.
inline bool test_bit(const std::uint64_t* mask, std::uint32_t pos) { return (mask[pos >> 6] >> (pos & 63)) & 1; }
inline void set_bit(std::uint64_t* mask, std::uint32_t pos) { mask[pos >> 6] |= std::uint64_t{1} << (pos & 63); }
// Bits lo..hi (inclusive) of word w.
inline std::uint64_t span_mask(std::size_t w, std::uint32_t lo, std::uint32_t hi) {
  std::uint64_t m = ~std::uint64_t{0};
  if (w == lo >> 6) m &= m << (lo & 63);
  if (w == hi >> 6) m &= ~std::uint64_t{0} >> (63 - (hi & 63));
  return m;
}

struct Program {
  const unsigned char* byte_class;  // for bytes byte_lo .. byte_lo + byte_span - 1
  unsigned byte_lo, byte_span, background;  // every other byte is in class `background`
  const std::uint64_t* table;       // one mask per byte class
  const std::uint64_t* star;        // the `*` positions
  const std::uint64_t* literal;     // the positions that take one given byte
  const unsigned char* literal_byte;  // and that byte, by position
  const std::uint64_t* entry;       // segment entries, and the position after an entry `*`
  const std::uint64_t* exit;        // segment exits
  std::span<const GroupLinks> groups;
  std::uint32_t positions;  // the last one accepts
  std::uint32_t words;

  const std::uint64_t* row(unsigned char b) const {
    const unsigned i = b - byte_lo;
    return table + std::size_t{i < byte_span ? byte_class[i] : background} * words;
  }
  bool accepts(std::uint32_t pos, unsigned char b) const { return test_bit(row(b), pos); }
  bool is_star(std::uint32_t pos) const { return test_bit(star, pos); }
};

// Where each part lives in Pattern::data_, in words from its start: the
// byte-to-class map, one mask per class, the star mask, the literal mask
// and bytes, and for brace patterns the entry and exit masks and the group
// links. The compiler writes by it and the matcher reads by it.
struct ProgramLayout {
  std::size_t words;  // of one position mask
  std::size_t table, star, literal, literal_bytes, entry, exit, links, total;

  ProgramLayout(std::uint32_t positions, std::uint32_t groups, unsigned classes, unsigned byte_span)
      : words((std::size_t{positions} + 63) / 64),
        table((std::size_t{byte_span} + 7) / 8),
        star(table + classes * words),
        literal(star + words),
        literal_bytes(literal + words),
        entry(literal_bytes + (std::size_t{positions} + 7) / 8),
        exit(entry + words),
        links(exit + words),
        total(groups > 0 ? links + (std::size_t{groups} * sizeof(GroupLinks) + 7) / 8 : entry) {}
};

}  // namespace tarnwick
