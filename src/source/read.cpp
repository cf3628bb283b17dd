#include "source/read.h"


#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "source/utf8_stream.h"

namespace tarnwick::source {
namespace {

constexpr std::string_view kStdinName = "<stdin>";
constexpr std::size_t kFirstBuffer = 64 * 1024;
// One read asks for at most this much, so that signals are looked at
// between reads of a fast source too.
constexpr std::size_t kReadChunk = 1024 * 1024;
constexpr std::size_t kSignalCheckBytes = 4 * 1024 * 1024;
constexpr auto kSignalCheckInterval = std::chrono::milliseconds(50);

SourceError io_error(std::string_view name, IoError error) {
  return SourceError{SourceError::Io{std::string(name), error}};
}

// Lets other threads run for as long as it lives.
class Outside {
 public:
  explicit Outside(ReadHooks& hooks) : hooks_(hooks) { hooks_.leave(); }
  Outside(const Outside&) = delete;
  Outside& operator=(const Outside&) = delete;
  // noexcept(false): should a caller's enter() ever end the thread with a
  // forced unwind, it must pass through rather than terminate the process.
  // The module's enter() never does (see python/exit_gate.h).
  ~Outside() noexcept(false) { hooks_.enter(); }

 private:
  ReadHooks& hooks_;
};

// Called outside: steps inside to run the signal handlers.
bool handle_signals(ReadHooks& hooks) {
  hooks.enter();
  const bool ok = hooks.check_signals();
  hooks.leave();
  return ok;
}

// Called outside. Memory: at most kMaxSourceBytes + 1 bytes. Time: one
// read per chunk of at most kReadChunk bytes.
Text read_all(platform::Handle handle, std::string_view name, ReadHooks& hooks) {
  const std::uint64_t hint = platform::size_hint(handle);
  if (hint > kMaxSourceBytes) return Err{io_error(name, {IoError::Kind::TooLarge})};
  std::string data(hint > 0 ? static_cast<std::size_t>(hint) + 1 : kFirstBuffer, '\0');
  std::size_t len = 0;
  Utf8Stream utf8;
  std::size_t unchecked_bytes = 0;  // since signals were last looked at
  auto last_check = std::chrono::steady_clock::now();
  for (;;) {
    if (len == data.size()) data.resize(std::min(data.size() * 2, kMaxSourceBytes + 1));
    auto got = platform::read_some(handle, data.data() + len, std::min(data.size() - len, kReadChunk));
    if (!got) {
      if (got.error().kind != platform::Failure::Kind::Interrupted) {
        return Err{io_error(name, {IoError::Kind::Os, got.error().code})};
      }
      if (!handle_signals(hooks)) return Err{SourceError{SourceError::Interrupted{}}};
      unchecked_bytes = 0;
      last_check = std::chrono::steady_clock::now();
      continue;
    }
    if (got.value() == 0) break;
    len += got.value();
    if (len > kMaxSourceBytes) return Err{io_error(name, {IoError::Kind::TooLarge})};
    if (!utf8.more({data.data(), len})) return Err{io_error(name, {IoError::Kind::InvalidUtf8})};
    // A signal that came between two reads cut neither short.
    unchecked_bytes += got.value();
    const auto now = std::chrono::steady_clock::now();
    if (unchecked_bytes >= kSignalCheckBytes || now - last_check >= kSignalCheckInterval) {
      if (!handle_signals(hooks)) return Err{SourceError{SourceError::Interrupted{}}};
      unchecked_bytes = 0;
      last_check = now;
    }
  }
  data.resize(len);
  if (!utf8.end(data)) return Err{io_error(name, {IoError::Kind::InvalidUtf8})};
  return data;
}

// Called outside. Opening a FIFO blocks until a writer appears; a signal
// may cut it short.
Result<platform::Handle, SourceError> open_file(std::string_view path, ReadHooks& hooks) {
  for (;;) {
    auto opened = platform::open_file(path);
    if (opened) return opened.value();
    switch (opened.error().kind) {
      case platform::Failure::Kind::Interrupted:
        if (!handle_signals(hooks)) return Err{SourceError{SourceError::Interrupted{}}};
        continue;
      case platform::Failure::Kind::Device:
        return Err{io_error(path, {IoError::Kind::NotFileOrPipe})};
      case platform::Failure::Kind::Os:
        break;
    }
    return Err{io_error(path, {IoError::Kind::Os, opened.error().code})};
  }
}

// Standard input belongs to the whole process: one reader at a time. The
// lock is only ever waited for outside, so a reader that steps inside to
// run signal handlers never waits for a thread that waits for it. Never
// destroyed: a thread parked at exit may still hold it.
std::timed_mutex& stdin_turn() {
  static auto* mutex = new std::timed_mutex;
  return *mutex;
}
// The thread that has the turn: a second read started on it (by a signal
// handler) must fail instead of waiting for itself. Not a thread_local: a
// module's thread-local storage is dynamic, and a thread parked at exit
// holding some confuses LeakSanitizer's scan of it.
std::atomic<std::thread::id> stdin_reader;

// Called outside. Waits in slices, running the signal handlers between
// them, so that Ctrl-C ends the wait. False: a handler failed.
bool wait_for_stdin_turn(ReadHooks& hooks) {
  while (!stdin_turn().try_lock_for(kSignalCheckInterval)) {
    if (!handle_signals(hooks)) return false;
  }
  return true;
}

}  // namespace

Text read_file(std::string_view path, ReadHooks& hooks) {
  if (path.find('\0') != std::string_view::npos) return Err{io_error(path, {IoError::Kind::NulInPath})};
  const Outside outside(hooks);
  auto opened = open_file(path, hooks);
  if (!opened) return Err{opened.error()};
  const struct Closer {
    platform::Handle handle;
    ~Closer() { platform::close(handle); }
  } closer{opened.value()};
  return read_all(closer.handle, path, hooks);
}

Text read_stdin(ReadHooks& hooks) {
  if (stdin_reader.load() == std::this_thread::get_id()) {
    return Err{io_error(kStdinName, {IoError::Kind::Os, platform::deadlock_code()})};
  }
  const Outside outside(hooks);
  if (!wait_for_stdin_turn(hooks)) return Err{SourceError{SourceError::Interrupted{}}};
  const std::lock_guard<std::timed_mutex> turn(stdin_turn(), std::adopt_lock);
  const struct Reading {
    Reading() { stdin_reader.store(std::this_thread::get_id()); }
    ~Reading() { stdin_reader.store(std::thread::id()); }
  } reading;
  return read_all(platform::standard_input(), kStdinName, hooks);
}

Text read_handle(platform::Handle handle, std::string_view name, ReadHooks& hooks) {
  const Outside outside(hooks);
  return read_all(handle, name, hooks);
}

}  // namespace tarnwick::source
