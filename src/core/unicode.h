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
std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);

}  // namespace tarnwick::unicode
