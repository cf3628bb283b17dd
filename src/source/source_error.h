// Directives with their origin, and the one error a directive source can
// report: "{where}: {why}".
//
//   rules.txt:3: empty name pattern
//   rules.txt: No such file or directory (os error 2)
//   <stdin>: stream did not contain valid UTF-8
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
  enum class Kind { Os, InvalidUtf8, NulInPath };
  Kind kind;
  int code = 0;  // errno, for Kind::Os

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
  // The read was abandoned because the interrupt hook asked for it; the
  // caller already knows why.
  struct Interrupted {};

  std::variant<Parse, Io, Interrupted> detail;

  bool interrupted() const { return std::holds_alternative<Interrupted>(detail); }
  std::string message() const;
};

// How reading cooperates with its caller (the interpreter, for the module).
struct ReadHooks {
  // Called when a blocking read is interrupted by a signal. Returning false
  // abandons the read (it ends with SourceError::Interrupted); returning
  // true retries it.
  bool (*on_interrupt)(void* context) = nullptr;
  // Runs `wait(arg)`, which may block until another thread lets go of
  // standard input, in a way that lets that thread run meanwhile.
  void (*while_waiting)(void* context, void (*wait)(void*), void* arg) = nullptr;
  void* context = nullptr;

  bool keep_going() const { return on_interrupt == nullptr || on_interrupt(context); }
  void wait(void (*fn)(void*), void* arg) const {
    if (while_waiting != nullptr) {
      while_waiting(context, fn, arg);
    } else {
      fn(arg);
    }
  }
};

}  // namespace tarnwick::source
