// The operating system's side of reading a directive source: open a file
// or take standard input, read it in chunks, close it. One implementation
// per platform (platform_posix.cpp, platform_windows.cpp); everything else
// in src/source uses only this header.
//
// Every function may block (a FIFO's open waits for a writer, a read waits
// for data) and none of them touches the interpreter: callers let other
// threads run around them. Failures are values, never exceptions.
//
//   auto opened = platform::open_file("rules.txt");
//   if (!opened) ...;                      // opened.error(): Os, Device or Interrupted
//   char buf[4096];
//   auto got = platform::read_some(opened.value(), buf, sizeof buf);  // 0 at the end
//   platform::close(opened.value());
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"

namespace tarnwick::source::platform {

// An open file, pipe or standard input. `native` is a file descriptor on
// POSIX and a HANDLE on Windows. A handle that is not `owned` (standard
// input) is never closed by close().
struct Handle {
  std::intptr_t native = -1;
  bool owned = false;
};

// Why a call did not do what it was asked.
struct Failure {
  enum class Kind {
    // A signal cut the call short before it did anything. The caller may
    // run its signal handlers and make the same call again. Platforms
    // whose blocking calls signals do not cut short never report it.
    Interrupted,
    // The system refused: `code` is its error number (errno on POSIX,
    // GetLastError() on Windows), os_error_text(code) its text.
    Os,
    // The path names a character or block device (a terminal, /dev/zero,
    // CON) other than the null device (/dev/null, NUL), which reads as an
    // empty file: reading it might never end. Refused before any byte is
    // read, by open_file only.
    Device,
  };
  Kind kind;
  int code = 0;  // for Kind::Os
};

// Opens the file at `path` (UTF-8 text, no NUL, used as given: a relative
// path is relative to the current directory) for reading. Regular files,
// FIFOs and pipes are accepted; a directory may be accepted here and fail
// at its first read, as the system decides. Opening a FIFO blocks until it
// has a writer. The handle is owned: close() releases it.
Result<Handle, Failure> open_file(std::string_view path);

// The process's standard input, whatever it is (file, pipe, terminal);
// not owned, so close() leaves it open.
Handle standard_input();

// The size in bytes of the regular file behind `handle`, or 0 when it is
// not a regular file or its size cannot be told. Only a hint for the
// first buffer: the file may change while it is read.
std::uint64_t size_hint(Handle handle);

// Reads at most `size` bytes (size > 0) into `buffer`: the count read, 0
// at end of input. Blocks until at least one byte is there or the input
// ends. Never reports Kind::Device.
Result<std::size_t, Failure> read_some(Handle handle, char* buffer, std::size_t size);

// Releases an owned handle; does nothing for standard input. Errors on
// closing a handle that was only read are of no interest and ignored.
void close(Handle handle);

// The system's error number for "this would deadlock" (EDEADLK on POSIX,
// ERROR_POSSIBLE_DEADLOCK on Windows): a second read of standard input
// started on the thread that is already reading it.
int deadlock_code();

// "{the system's message for code} (os error {code})", for example
// "No such file or directory (os error 2)".
std::string os_error_text(int code);

}  // namespace tarnwick::source::platform
