// The Unicode facts the core needs: UTF-8 decoding and validation, the
// White_Space property (the only notion of whitespace in the system) and
// the properties the quoted form escapes.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick::unicode {

// Decodes the code point starting at s[i] of well-formed UTF-8 and advances i
// past it. Malformed bytes decode as themselves, one byte at a time.
char32_t next_code_point(std::string_view s, std::size_t& i);

// Whether `s` is well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequence).
bool is_valid_utf8(std::string_view s);

bool is_white_space(char32_t c);
bool is_grapheme_extend(char32_t c);
// General category Cc, Cf, Cs, Co, Cn, Zl, Zp, or Zs other than U+0020.
bool is_invisible(char32_t c);

// `s` without leading and trailing White_Space characters.
std::string_view trim_slow(std::string_view s);
std::string_view trim_start_slow(std::string_view s);

// Whether byte `b` cannot begin or end a White_Space character: ASCII other
// than the ASCII white space. Every non-ASCII byte may (U+0085, U+00A0, ...).
constexpr bool is_ascii_non_space(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x80 && b != ' ' && (b < 0x09 || b > 0x0D);
}

// Inline, since the usual text has nothing to trim: one test of each end.
inline std::string_view trim(std::string_view s) {
  if (!s.empty() && is_ascii_non_space(s.front()) && is_ascii_non_space(s.back())) return s;
  return trim_slow(s);
}

inline std::string_view trim_start(std::string_view s) {
  if (!s.empty() && is_ascii_non_space(s.front())) return s;
  return trim_start_slow(s);
}

}  // namespace tarnwick::unicode
