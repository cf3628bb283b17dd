// JsonScanner against a reference reader written here from RFC 8259 (plus
// the rules the scanner adds: Python's "surrogatepass" UTF-8, and bounds on
// depth, string and number length): the same inputs are accepted, the same
// values are reported with the same spans, keys, child counts and "plain"
// flags, and feeding the input in two pieces changes nothing, malformed
// input included. The first byte picks the piece boundary.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_scan.h"
#include "fuzz_common.h"

namespace {

using tarnwick::json::JsonScanner;
using tarnwick::json::ScanEvent;
using tarnwick::json::ScanLimits;

constexpr ScanLimits kLimits{8, 24, 12, 6};  // small, so that inputs reach them
constexpr std::uint32_t kReport = 2;

struct Ref {
  std::string_view s;
  std::size_t i = 0;
  std::vector<ScanEvent> events;
  std::uint64_t unplain = 0;

  bool blank() const {
    return i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r');
  }
  void skip() {
    while (blank()) ++i;
  }
  unsigned char at(std::size_t k) const { return static_cast<unsigned char>(s[k]); }

  bool string() {  // at '"'
    const std::size_t start = i++;
    while (i < s.size()) {
      const unsigned char c = at(i);
      if (c == '"') {
        if (i - start - 1 > kLimits.max_string) return false;
        ++i;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++i >= s.size()) return false;
        const unsigned char e = at(i);
        if (e == 'u') {
          for (int k = 0; k < 4; ++k) {
            if (++i >= s.size()) return false;
            const unsigned char h = at(i);
            if (!((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F'))) return false;
          }
        } else if (std::string_view("\"\\/bfnrt").find(static_cast<char>(e)) == std::string_view::npos) {
          return false;
        }
        ++i;
        continue;
      }
      if (c >= 0x80) {  // UTF-8, surrogates allowed
        std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (c < 0xC2 || c > 0xF4 || i + len > s.size()) return false;
        char32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
        for (std::size_t k = 1; k < len; ++k) {
          if ((at(i + k) & 0xC0) != 0x80) return false;
          cp = (cp << 6) | (at(i + k) & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) ++unplain;
        i += len;
        continue;
      }
      ++i;
    }
    return false;
  }

  bool number(bool& plain) {
    const std::size_t start = i;
    if (s[i] == '-') ++i;
    auto digits = [&] {
      const std::size_t from = i;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
      return i - from;
    };
    if (i >= s.size()) return false;
    std::size_t int_digits = 0;
    if (s[i] == '0') {
      ++i;
      int_digits = 1;
    } else if ((int_digits = digits()) == 0) {
      return false;
    }
    plain = int_digits <= kLimits.plain_digits;
    if (i < s.size() && s[i] == '.') {
      ++i;
      plain = false;
      if (digits() == 0) return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      ++i;
      plain = false;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
      if (digits() == 0) return false;
    }
    return i - start <= kLimits.max_number;
  }

  // A value at `depth`; `key` is the member's key span or {-1, -1}.
  bool value(std::uint32_t depth, std::uint64_t index, std::int64_t ks, std::int64_t ke) {
    skip();
    if (i >= s.size()) return false;
    const std::size_t start = i;
    const std::uint64_t unplain_before = unplain;
    std::uint64_t children = 0;
    bool plain = true;
    const char c = s[i];
    if (c == '{' || c == '[') {
      if (depth >= kLimits.max_depth) return false;
      const bool object = c == '{';
      ++i;
      skip();
      if (i < s.size() && s[i] == (object ? '}' : ']')) {
        ++i;
      } else {
        for (;;) {
          std::int64_t cks = -1, cke = -1;
          if (object) {
            skip();
            if (i >= s.size() || s[i] != '"') return false;
            cks = static_cast<std::int64_t>(i);
            if (!string()) return false;
            cke = static_cast<std::int64_t>(i);
            skip();
            if (i >= s.size() || s[i] != ':') return false;
            ++i;
          }
          if (!value(depth + 1, children++, cks, cke)) return false;
          skip();
          if (i >= s.size()) return false;
          if (s[i] == ',') {
            ++i;
            continue;
          }
          if (s[i] != (object ? '}' : ']')) return false;
          ++i;
          break;
        }
      }
      plain = unplain == unplain_before;
    } else if (c == '"') {
      if (!string()) return false;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      if (!number(plain)) return false;
      if (!plain) ++unplain;
    } else {
      for (std::string_view lit : {"true", "false", "null"}) {
        if (s.substr(i, lit.size()) == lit) {
          i += lit.size();
          goto done;
        }
      }
      return false;
    }
  done:
    if (depth <= kReport) events.push_back({depth, index, ks, ke, start, i, children, plain});
    return true;
  }
};

bool same(const std::vector<ScanEvent>& a, const std::vector<ScanEvent>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const ScanEvent &x = a[k], &y = b[k];
    if (x.depth != y.depth || x.index != y.index || x.key_start != y.key_start ||
        x.key_end != y.key_end || x.start != y.start || x.end != y.end ||
        x.children != y.children || x.plain != y.plain) {
      return false;
    }
  }
  return true;
}

struct Scanned {
  bool ok;
  std::vector<ScanEvent> events;
  std::uint64_t error_offset = 0;
};

Scanned scan(std::string_view text, std::size_t cut) {
  JsonScanner scanner(kReport, kLimits);
  Scanned out{true, {}, 0};
  const fuzz::HeapText first(text.substr(0, cut));
  const fuzz::HeapText second(text.substr(cut));
  auto error = scanner.feed(first.view(), out.events);
  if (!error) error = scanner.feed(second.view(), out.events);
  if (!error) error = scanner.finish(out.events);
  if (error) {
    out.ok = false;
    out.error_offset = error->offset;
    FUZZ_CHECK(!error->message.empty());
    FUZZ_CHECK(error->offset <= text.size());
    std::vector<ScanEvent> none;
    FUZZ_CHECK(scanner.finish(none).has_value() && none.empty());  // a fault stays a fault
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > fuzz::kMaxInput) return 0;
  const std::size_t cut = data[0] % size;
  const std::string_view text = fuzz::as_text(data + 1, size - 1);

  Ref ref{text, 0, {}, 0};
  bool ref_ok = ref.value(0, 0, -1, -1);
  ref.skip();
  ref_ok = ref_ok && ref.i == text.size();

  const Scanned whole = scan(text, text.size());
  const Scanned split = scan(text, cut < text.size() ? cut : text.size());
  FUZZ_CHECK(whole.ok == ref_ok);
  FUZZ_CHECK(split.ok == whole.ok && split.error_offset == whole.error_offset);
  if (ref_ok) {
    FUZZ_CHECK(same(whole.events, ref.events));
    FUZZ_CHECK(same(split.events, ref.events));
  } else {
    // Events are reported only for values already complete and valid.
    FUZZ_CHECK(same(whole.events, split.events));
  }
  return 0;
}
