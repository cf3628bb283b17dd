#include "core/unicode.h"

#include <algorithm>
#include <iterator>

namespace tarnwick::unicode {
namespace {

struct CodePointRange {
  char32_t lo;
  char32_t hi;
};

#include "core/unicode_tables.inc"

template <std::size_t N>
bool in_table(const CodePointRange (&table)[N], char32_t c) {
  const CodePointRange* end = table + N;
  const CodePointRange* it = std::upper_bound(
      table, end, c, [](char32_t v, const CodePointRange& r) { return v < r.lo; });
  return it != table && c <= std::prev(it)->hi;
}

// Length of a UTF-8 sequence from its lead byte; 0 for a byte that cannot lead.
int sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 0;
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

char32_t next_code_point(std::string_view s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  const int len = sequence_length(lead);
  if (len <= 1 || i + len > s.size()) {
    ++i;
    return lead;
  }
  char32_t c = lead & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (!is_continuation(b)) {
      ++i;
      return lead;
    }
    c = (c << 6) | (b & 0x3F);
  }
  i += len;
  return c;
}

bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const int len = sequence_length(lead);
    if (len == 0 || i + len > n) return false;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    // The second byte's range excludes overlong forms, surrogates and code
    // points above U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
    if (b1 < lo || b1 > hi) return false;
    for (int k = 2; k < len; ++k) {
      if (!is_continuation(static_cast<unsigned char>(s[i + k]))) return false;
    }
    i += len;
  }
  return true;
}

bool is_white_space(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
  return in_table(kWhiteSpace, c);
}

bool is_grapheme_extend(char32_t c) { return c >= 0x300 && in_table(kGraphemeExtend, c); }

bool is_invisible(char32_t c) { return in_table(kInvisible, c); }


namespace {

bool is_ascii_white_space(unsigned char b) { return b == ' ' || (b >= 0x09 && b <= 0x0D); }

}  // namespace

std::string_view trim_start_slow(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (!is_ascii_white_space(b)) break;
      ++i;
      continue;
    }
    std::size_t next = i;
    if (!is_white_space(next_code_point(s, next))) break;
    i = next;
  }
  return s.substr(i);
}

std::string_view trim_slow(std::string_view s) {
  s = trim_start_slow(s);
  std::size_t end = s.size();
  while (end > 0) {
    const auto last = static_cast<unsigned char>(s[end - 1]);
    if (last < 0x80) {
      if (!is_ascii_white_space(last)) break;
      --end;
      continue;
    }
    // Find the start of the last character by skipping continuation bytes.
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && is_continuation(static_cast<unsigned char>(s[start]))) --start;
    std::size_t probe = start;
    const char32_t c = next_code_point(s, probe);
    if (probe != end || !is_white_space(c)) break;
    end = start;
  }
  return s.substr(0, end);
}

}  // namespace tarnwick::unicode
