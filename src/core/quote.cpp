#include "core/quote.h"

#include "core/unicode.h"

namespace tarnwick {
namespace {

void append_hex_escape(std::string& out, char32_t c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char buf[8];
  int n = 0;
  do {
    buf[n++] = kDigits[c & 0xF];
    c >>= 4;
  } while (c != 0);
  out += "\\u{";
  while (n > 0) out += buf[--n];
  out += '}';
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    const char32_t c = unicode::next_code_point(text, i);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case 0: out += "\\0"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      default: break;
    }
    if (unicode::is_grapheme_extend(c) || unicode::is_invisible(c)) {
      append_hex_escape(out, c);
    } else {
      out.append(text, start, i - start);
    }
  }
  out += '"';
}

std::string quoted(std::string_view text) {
  std::string out;
  append_quoted(out, text);
  return out;
}

std::string quoted_list(std::span<const std::string_view> members) {
  std::string out = "[";
  for (std::size_t k = 0; k < members.size(); ++k) {
    if (k > 0) out += ", ";
    append_quoted(out, members[k]);
  }
  out += ']';
  return out;
}

}  // namespace tarnwick
