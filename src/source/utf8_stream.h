// UTF-8 checking of a text that arrives in pieces: each piece is checked
// once, and a sequence cut by the end of what has arrived is checked when
// it is complete. Checking the pieces of a text gives the same answer as
// unicode::is_valid_utf8 on the whole.
//
//   Utf8Stream utf8;
//   utf8.more("allow:\xE2\x82");      // true: the cut sequence waits
//   utf8.more("allow:\xE2\x82\xAC");  // true
//   utf8.end("allow:\xE2\x82\xAC");   // true: nothing left unfinished
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnwick::source {

class Utf8Stream {
 public:
  // `text` is everything so far (what an earlier call saw, and more): false
  // once it holds a byte that no continuation can make valid.
  bool more(std::string_view text);
  // The text is complete: false if it is not valid UTF-8 as a whole.
  bool end(std::string_view text) const;

 private:
  std::size_t checked_ = 0;  // bytes before this are known valid
};

}  // namespace tarnwick::source
