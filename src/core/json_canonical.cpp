#include "core/json_canonical.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tarnwick::json {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_number_char(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// Whether `keys` (one object's) has a key twice.
bool repeats(std::vector<std::string_view>::iterator begin, std::vector<std::string_view>::iterator end) {
  std::sort(begin, end);
  return std::adjacent_find(begin, end) != end;
}

}  // namespace

bool append_canonical(std::string_view text, std::string& out, CanonicalScratch& scratch) {
  std::vector<CanonicalScratch::Open>& open = scratch.open;
  std::vector<std::string_view>& keys = scratch.keys;
  open.clear();
  keys.clear();
  bool expect_key = false;
  std::size_t p = 0;
  while (p < text.size()) {
    const char c = text[p];
    if (is_space(c)) {
      ++p;
      continue;
    }
    if (c == '"') {
      const std::size_t start = p++;
      while (p < text.size() && text[p] != '"' && text[p] != '\\') ++p;
      if (p == text.size() || text[p] == '\\') return false;
      ++p;
      if (expect_key) keys.push_back(text.substr(start, p - start));
      expect_key = false;
      out.append(text.substr(start, p - start));
      continue;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      const std::size_t start = p;
      while (p < text.size() && is_number_char(text[p])) ++p;
      const std::string_view number = text.substr(start, p - start);
      if (number.find_first_of(".eE+") != std::string_view::npos || number == "-0") return false;
      out.append(number);
      continue;
    }
    if (c >= 'a' && c <= 'z') {
      const std::size_t start = p;
      while (p < text.size() && text[p] >= 'a' && text[p] <= 'z') ++p;
      out.append(text.substr(start, p - start));
      continue;
    }
    ++p;
    out += c;
    if (c == '{' || c == '[') {
      open.push_back({c == '{', keys.size()});
      expect_key = c == '{';
    } else if (c == '}' || c == ']') {
      if (open.empty()) return false;
      if (open.back().object) {
        if (repeats(keys.begin() + static_cast<std::ptrdiff_t>(open.back().first_key), keys.end())) return false;
        keys.resize(open.back().first_key);
      }
      open.pop_back();
      expect_key = false;
    } else if (c == ',') {
      expect_key = !open.empty() && open.back().object;
    } else if (c != ':') {
      return false;
    }
  }
  return open.empty();
}

}  // namespace tarnwick::json
