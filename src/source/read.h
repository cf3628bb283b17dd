// Reading a directive source whole: a file, or standard input, into one
// UTF-8 text of at most kMaxSourceBytes, without holding up other threads.
//
// Every blocking call (open, each read, the size query, close) runs
// between hooks.leave() and hooks.enter(). The text is checked as UTF-8 as
// it arrives, so a stream of bad bytes stops at its first bad chunk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/result.h"
#include "source/platform.h"
#include "source/source_error.h"

namespace tarnwick::source {

// The most bytes one source may hold: far above any real directive file,
// far below what would exhaust memory. One byte more stops the read.
inline constexpr std::size_t kMaxSourceBytes = std::size_t{1} << 30;

// How a read cooperates with its caller (for the module: the interpreter
// lock and Python's signal handlers). The caller is "inside" when it calls
// a read and is inside again when the read returns.
class ReadHooks {
 public:
  // The thread is about to block: let other threads run.
  virtual void leave() = 0;
  // Take back what leave() let go.
  virtual void enter() = 0;
  // Called inside when a signal cut a call short, and every few megabytes
  // or tens of milliseconds of reading: runs what the pending signals ask
  // for. False (a handler failed) abandons the read with
  // SourceError::Interrupted.
  virtual bool check_signals() = 0;

 protected:
  ~ReadHooks() = default;
};

// For callers with nothing to let go and no handlers: a cut-short call is
// made again.
class NoHooks final : public ReadHooks {
 public:
  void leave() override {}
  void enter() override {}
  bool check_signals() override { return true; }
};

using Text = Result<std::string, SourceError>;

// The file at `path`, named `path` in errors. Character and block devices
// are refused before they are opened.
Text read_file(std::string_view path, ReadHooks& hooks);

// Standard input, named "<stdin>", read to its end under a process-wide
// lock: two reads never interleave. A read started on a thread that is
// already reading standard input (by a signal handler) fails with the
// system's deadlock error (platform::deadlock_code) instead of waiting for
// itself.
Text read_stdin(ReadHooks& hooks);

// An open handle (left open), read to its end and named `name`.
Text read_handle(platform::Handle handle, std::string_view name, ReadHooks& hooks);

}  // namespace tarnwick::source
