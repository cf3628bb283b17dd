#include "source/source_error.h"

#include <cstring>

namespace tarnwick::source {
namespace {

// strerror_r comes in two flavours; each overload picks its result.
[[maybe_unused]] const char* strerror_result(int, const char* buf) { return buf; }
[[maybe_unused]] const char* strerror_result(const char* message, const char*) { return message; }

std::string os_message(int code) {
  char buf[256] = {0};
  return strerror_result(strerror_r(code, buf, sizeof buf), buf);
}

}  // namespace

std::string IoError::text() const {
  switch (kind) {
    case Kind::Os: return os_message(code) + " (os error " + std::to_string(code) + ")";
    case Kind::InvalidUtf8: return "stream did not contain valid UTF-8";
    case Kind::NulInPath: return "file name contained an unexpected NUL byte";
  }
  return {};
}

std::string SourceError::message() const {
  if (const auto* io = std::get_if<Io>(&detail)) return io->file + ": " + io->error.text();
  if (const auto* parse = std::get_if<Parse>(&detail)) {
    std::string where =
        parse->file ? *parse->file + ":" + std::to_string(parse->line) : std::string("<inline>");
    return where + ": " + parse->error.message();
  }
  return "interrupted";
}

}  // namespace tarnwick::source
