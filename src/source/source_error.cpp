#include "source/source_error.h"

#include "source/platform.h"

namespace tarnwick::source {

std::string IoError::text() const {
  switch (kind) {
    case Kind::Os: return platform::os_error_text(code);
    case Kind::InvalidUtf8: return "stream did not contain valid UTF-8";
    case Kind::NulInPath: return "file name contained an unexpected NUL byte";
    case Kind::NotFileOrPipe: return "not a regular file or pipe";
    case Kind::TooLarge: return "larger than 1 GiB, the limit for a directive source";
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
