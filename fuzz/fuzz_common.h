// Shared pieces of the fuzz targets: invariant checks that abort with a
// message, exact-size heap copies (so that ASan sees any read past the end),
// input splitting, and small reference implementations of the rules the
// targets check the core against. Everything here is written from the rules
// themselves, not from the core's code, so that the two can disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Inputs above this size are ignored: every rule checked here shows up on
// small inputs, and the reference checks are quadratic.
inline constexpr std::size_t kMaxInput = 4096;

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "\n%s:%d: invariant failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond)                                   \
  do {                                                     \
    if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond);  \
  } while (0)

// A copy of `text` in a heap block of exactly its size: one byte read past
// its end lands in ASan's redzone. (An empty text gets a zero-size block.)
class HeapText {
 public:
  explicit HeapText(std::string_view text)
      : size_(text.size()), data_(new char[text.size()]) {
    if (size_ != 0) std::memcpy(data_.get(), text.data(), size_);
  }
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> data_;
};

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Splits at every 0xFF byte, which never occurs in UTF-8 text, so seeds stay
// readable: "levels\xffnames\xff...".
inline std::vector<std::string_view> split_sections(std::string_view input) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t cut = input.find('\xff', start);
    if (cut == std::string_view::npos) {
      out.push_back(input.substr(start));
      return out;
    }
    out.push_back(input.substr(start, cut - start));
    start = cut + 1;
  }
}

inline std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> out;
  if (text.empty()) return out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      out.push_back(text.substr(start));
      return out;
    }
    out.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
}

// ---------------------------------------------------------------------------
// Unicode references.

// Strict UTF-8 decoding: nothing overlong, no surrogates, nothing above
// U+10FFFF, no truncated sequence.
inline bool ref_decode_utf8(std::string_view s, std::vector<char32_t>* out, std::vector<std::size_t>* starts) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    char32_t c;
    std::size_t len;
    if (b0 < 0x80) {
      c = b0;
      len = 1;
    } else if ((b0 & 0xE0) == 0xC0) {
      c = b0 & 0x1F;
      len = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
      c = b0 & 0x0F;
      len = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
      c = b0 & 0x07;
      len = 4;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (out) out->push_back(c);
    if (starts) starts->push_back(i);
    i += len;
  }
  return true;
}

inline bool ref_valid_utf8(std::string_view s) { return ref_decode_utf8(s, nullptr, nullptr); }

// The White_Space property, listed in full.
inline bool ref_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// Trim of well-formed UTF-8.
inline std::string_view ref_trim(std::string_view s) {
  std::vector<char32_t> cps;
  std::vector<std::size_t> starts;
  if (!ref_decode_utf8(s, &cps, &starts)) std::abort();
  std::size_t lo = 0, hi = cps.size();
  while (lo < hi && ref_white_space(cps[lo])) ++lo;
  while (hi > lo && ref_white_space(cps[hi - 1])) --hi;
  const std::size_t begin = lo < cps.size() ? starts[lo] : s.size();
  const std::size_t end = hi < cps.size() ? starts[hi] : s.size();
  return s.substr(begin, end - begin);
}

inline std::string_view ref_trim_start(std::string_view s) {
  const std::string_view t = ref_trim(s);
  return s.substr(static_cast<std::size_t>(t.data() - s.data()));
}

// ---------------------------------------------------------------------------
// Directive references.

// The first `delim` at or after `from` that no backslash escapes.
inline std::size_t ref_find_unescaped(std::string_view s, char delim, std::size_t from = 0) {
  for (std::size_t i = from; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == delim) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Whether the backslash scan over `s` ends with an escape that still wants
// the byte after `s`: an odd run of trailing backslashes.
inline bool ref_ends_escaping(std::string_view s) {
  std::size_t i = 0;
  bool pending = false;
  while (i < s.size()) {
    if (s[i] == '\\') {
      pending = i + 1 == s.size();
      i += 2;
    } else {
      pending = false;
      ++i;
    }
  }
  return pending;
}

// Backslash escapes removed, character by character; a trailing backslash
// stays.
inline std::string ref_unescape(std::string_view s) {
  std::vector<char32_t> cps;
  std::vector<std::size_t> starts;
  if (!ref_decode_utf8(s, &cps, &starts)) std::abort();
  std::string out;
  for (std::size_t k = 0; k < cps.size(); ++k) {
    std::size_t from = starts[k];
    if (cps[k] == U'\\' && k + 1 < cps.size()) from = starts[++k];
    const std::size_t to = k + 1 < cps.size() ? starts[k + 1] : s.size();
    out.append(s.substr(from, to - from));
  }
  return out;
}

// The directive grammar, step by step, for well-formed UTF-8. `error` is
// one of the parser's fixed messages when the text does not parse.
struct RefDirective {
  std::string error;
  std::string_view action;
  std::optional<std::string> kind;
  std::string_view name;
  std::optional<std::string_view> path;
  std::optional<std::string_view> note;
};

inline RefDirective ref_parse(std::string_view spec) {
  constexpr std::size_t npos = std::string_view::npos;
  RefDirective d;
  const std::size_t colon = ref_find_unescaped(spec, ':');
  if (colon == npos) {
    d.error = "expected `ACTION:\u2026` (no `:` found)";
    return d;
  }
  const std::size_t eq = ref_find_unescaped(spec, '=');
  if (eq != npos && eq < colon) {
    d.error = "`=` appeared before the action `:`";
    return d;
  }
  d.action = ref_trim(spec.substr(0, colon));
  if (d.action.empty()) {
    d.error = "empty action";
    return d;
  }
  std::string_view head = spec.substr(colon + 1);
  if (const std::size_t e = ref_find_unescaped(head, '='); e != npos) {
    d.note = head.substr(e + 1);
    head = head.substr(0, e);
  }
  std::string_view body = ref_trim(head);
  if (body.empty()) {
    d.error = "empty name pattern";
    return d;
  }
  if (body.size() >= 2 && body[0] == '<') {
    if (const std::size_t gt = ref_find_unescaped(body, '>', 1); gt != npos) {
      const std::string_view kind = ref_trim(body.substr(1, gt - 1));
      if (kind.empty()) {
        d.error = "empty `<>` kind filter";
        return d;
      }
      if (kind != "*") d.kind = ref_unescape(kind);
      body = ref_trim_start(body.substr(gt + 1));
    }
  }
  if (const std::size_t at = ref_find_unescaped(body, '@'); at != npos) {
    d.name = ref_trim(body.substr(0, at));
    d.path = ref_trim(body.substr(at + 1));
  } else {
    d.name = body;
  }
  if (d.name.empty()) d.error = "empty name pattern";
  return d;
}

// Reads a quoted form back: strips the quotes and undoes `\"`, `\\`, `\0`,
// `\t`, `\r`, `\n` and `\u{hex}` (lowercase hex, no leading zeros). Nothing
// when the text is not a well-formed quoted form.
inline std::optional<std::string> ref_unquote(std::string_view q) {
  if (q.size() < 2 || q.front() != '"' || q.back() != '"') return std::nullopt;
  q = q.substr(1, q.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < q.size(); ++i) {
    const char c = q[i];
    if (c == '"') return std::nullopt;  // a bare quote inside
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == q.size()) return std::nullopt;
    switch (q[i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '0': out += '\0'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 'u': {
        if (++i == q.size() || q[i] != '{') return std::nullopt;
        const std::size_t close = q.find('}', i);
        if (close == std::string_view::npos || close == i + 1 || close - i > 7) return std::nullopt;
        const std::string_view hex = q.substr(i + 1, close - i - 1);
        if (hex[0] == '0') return std::nullopt;
        char32_t cp = 0;
        for (char h : hex) {
          if (h >= '0' && h <= '9') cp = cp * 16 + static_cast<char32_t>(h - '0');
          else if (h >= 'a' && h <= 'f') cp = cp * 16 + static_cast<char32_t>(h - 'a' + 10);
          else return std::nullopt;
        }
        if (cp > 0x10FFFF) return std::nullopt;
        // Encoded as UTF-8 (a surrogate would come from invalid input only).
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (cp >> 18));
          out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        i = close;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

// The lint verb a token names: trimmed, ASCII-lowercased, hyphens deleted.
// 0 suppress, 1 deescalate, 2 escalate, 3 note, 4 set; -1 for none.
inline int ref_lint_verb(std::string_view token) {
  std::string t;
  for (char c : ref_trim(token)) {
    if (c == '-') continue;
    t += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (t == "suppress") return 0;
  if (t == "deescalate") return 1;
  if (t == "escalate") return 2;
  if (t == "note") return 3;
  if (t == "set" || t == "settings") return 4;
  return -1;
}

}  // namespace fuzz
