#include "source/utf8_stream.h"

#include "core/unicode.h"

namespace tarnwick::source {
namespace {

// The bytes a sequence starting with `lead` takes, when `lead` may start
// one; 1 otherwise, so that the check sees it at once.
std::size_t sequence_length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

}  // namespace

bool Utf8Stream::more(std::string_view text) {
  std::size_t end = text.size();
  // A lead byte among the last three may begin a sequence that is not all
  // there yet: it waits for the next call.
  for (std::size_t i = end; i > checked_ && i + 3 > end; --i) {
    const auto byte = static_cast<unsigned char>(text[i - 1]);
    if ((byte & 0xC0) == 0x80) continue;
    if (end - (i - 1) < sequence_length(byte)) end = i - 1;
    break;
  }
  const bool ok = unicode::is_valid_utf8(text.substr(checked_, end - checked_));
  checked_ = end;
  return ok;
}

bool Utf8Stream::end(std::string_view text) const {
  return unicode::is_valid_utf8(text.substr(checked_));
}

}  // namespace tarnwick::source
