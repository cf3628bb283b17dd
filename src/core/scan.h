// Delimiter search shared by the parser and the glob compiler: a backslash
// hides the byte after it, so an escaped delimiter is never found.
//
//   find_unescaped("a\\:b:c", ':') == 4
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnwick {

// The first `delim` at or after `from` that no backslash escapes, or npos.
inline std::size_t find_unescaped(std::string_view s, char delim, std::size_t from = 0) {
  for (std::size_t i = from; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == delim) {
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace tarnwick
