// Directives with their origin, and the one error a directive source can
// report: "{where}: {why}".
//
//   rules.txt:3: empty name pattern
//   rules.txt: No such file or directory (os error 2)
//   <stdin>: stream did not contain valid UTF-8
//   /dev/zero: not a regular file or pipe
//   <inline>: empty action
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/directive.h"
#include "core/parse.h"

namespace tarnwick::source {

// A line of a file or of standard input. `file` is borrowed from the caller
// (the path it passed, or the literal "<stdin>").
struct Origin {
  std::string_view file;
  std::uint64_t line;
};

struct Sourced {
  Directive directive;
  std::optional<Origin> origin;  // absent for an inline value
};

// Why a file or stream could not be read as UTF-8 text.
struct IoError {
  enum class Kind {
    Os,             // the system refused; `code` is its error number
    InvalidUtf8,
    NulInPath,
    NotFileOrPipe,  // a character or block device, never read
    TooLarge,       // more than kMaxSourceBytes (read.h)
  };
  Kind kind;
  int code = 0;  // for Kind::Os

  std::string text() const;
};

struct SourceError {
  struct Parse {
    std::optional<std::string> file;  // absent for an inline value
    std::uint64_t line = 0;
    ParseError error;
  };
  struct Io {
    std::string file;
    IoError error;
  };
  // The read was abandoned because ReadHooks::check_signals asked for it;
  // the caller already knows why.
  struct Interrupted {};

  std::variant<Parse, Io, Interrupted> detail;

  bool interrupted() const { return std::holds_alternative<Interrupted>(detail); }
  std::string message() const;
};

}  // namespace tarnwick::source
