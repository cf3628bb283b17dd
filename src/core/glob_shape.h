// What a compiled Pattern keeps beside its text to say how to read it: the
// two ends of a plain pattern, or the sizes of a position program's parts,
// in the same four words (Pattern::shape_). Only the engines read them.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/glob.h"

namespace tarnwick {

// A plain pattern (see Pattern::Form): where its first `*` is and where the
// text after its last `*` starts (offsets into the source, both its size
// when it has no `*`), and how many text bytes these two ends take.
struct PlainShape {
  std::uint32_t head_end, tail_start, head_len, tail_len;
};

// A positions pattern: the sizes of the parts of Pattern::data_. Bytes from
// byte_lo on, byte_span of them, are mapped one by one; every other byte is
// in class `background`.
struct ProgramShape {
  std::uint32_t positions;
  std::uint32_t groups;
  std::uint16_t classes;
  std::uint16_t byte_span;
  std::uint8_t byte_lo;
  std::uint8_t background;
};

// How a brace group links into the positions (see glob_program.h).
struct GroupLinks {
  std::uint32_t fork;       // position before the group
  std::uint32_t first;      // entry of its first segment
  std::uint32_t last;       // exit of its last segment
  std::uint32_t join;       // position after the group
  std::uint32_t join_star;  // the position after the group is a `*`
};

static_assert(sizeof(PlainShape) <= sizeof(Pattern::ShapeWords) && alignof(PlainShape) <= alignof(Pattern::ShapeWords));
static_assert(sizeof(ProgramShape) <= sizeof(Pattern::ShapeWords) && alignof(ProgramShape) <= alignof(Pattern::ShapeWords));

// Reading and writing a shape in its four words: copies, which compilers
// turn into plain loads and stores.
template <class Shape>
Shape read_shape(const Pattern::ShapeWords& words) {
  Shape shape;
  std::memcpy(&shape, &words, sizeof shape);
  return shape;
}
template <class Shape>
void write_shape(Pattern::ShapeWords& words, const Shape& shape) {
  std::memcpy(&words, &shape, sizeof shape);
}

}  // namespace tarnwick
