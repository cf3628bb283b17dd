#include "source/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "core/unicode.h"

namespace tarnwick::source {
namespace {

constexpr std::string_view kStdinName = "<stdin>";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Why reading stopped early, when it did.
struct ReadFailure {
  bool interrupted = false;
  IoError error{IoError::Kind::Os};
};

Result<std::string, ReadFailure> read_to_end(int fd, const ReadHooks& hooks) {
  std::string data;
  struct stat st;
  std::size_t capacity = 64 * 1024;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    capacity = static_cast<std::size_t>(st.st_size) + 1;
  }
  data.resize(capacity);
  std::size_t len = 0;
  for (;;) {
    if (len == data.size()) data.resize(data.size() * 2);
    const ssize_t got = ::read(fd, data.data() + len, data.size() - len);
    if (got > 0) {
      len += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno == EINTR) {
      if (!hooks.keep_going()) return Err{ReadFailure{true}};
    } else {
      return Err{ReadFailure{false, {IoError::Kind::Os, errno}}};
    }
  }
  data.resize(len);
  return data;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

SourceError io_error(std::string_view file, IoError error) {
  return SourceError{SourceError::Io{std::string(file), error}};
}

// The content read, checked to be UTF-8 as a whole.
Result<std::string, SourceError> checked_text(Result<std::string, ReadFailure> read,
                                              std::string_view name) {
  if (!read) {
    if (read.error().interrupted) return Err{SourceError{SourceError::Interrupted{}}};
    return Err{io_error(name, read.error().error)};
  }
  if (!unicode::is_valid_utf8(read.value())) {
    return Err{io_error(name, {IoError::Kind::InvalidUtf8})};
  }
  return std::move(read).value();
}

Outcome parse_text(Result<std::string, SourceError> text, std::string_view name,
                   DirectiveSink& sink) {
  if (!text) return text.error();
  return parse_str(text.value(), name, sink);
}

// Standard input belongs to the whole process: one reader at a time, and
// each reads to the end.
struct StdinLock {
  std::mutex mutex;
  std::atomic<std::thread::id> owner{};
};

StdinLock& stdin_lock() {
  static StdinLock lock;
  return lock;
}

}  // namespace

Outcome parse_str(std::string_view text, std::string_view file, DirectiveSink& sink) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::uint64_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = unicode::trim(line);
    if (line.empty() || line.front() == '#') continue;
    auto parsed = parse_as<std::string>(line);
    if (!parsed) return SourceError{SourceError::Parse{std::string(file), number, parsed.error()}};
    if (!sink.accept(std::move(parsed.value()), Origin{file, number})) return std::nullopt;
  }
  return std::nullopt;
}

Outcome parse_file(std::string_view path, const ReadHooks& hooks, DirectiveSink& sink) {
  if (path.find('\0') != std::string_view::npos) return io_error(path, {IoError::Kind::NulInPath});
  const std::string c_path(path);
  int fd;
  // Opening a FIFO blocks until a writer appears; a signal may cut it short.
  while ((fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
    if (!hooks.keep_going()) return SourceError{SourceError::Interrupted{}};
  }
  if (fd < 0) return io_error(path, {IoError::Kind::Os, errno});
  FileDescriptor file(fd);
  return parse_text(checked_text(read_to_end(file.get(), hooks), path), path, sink);
}

Outcome parse_reader(int fd, std::string_view name, const ReadHooks& hooks, DirectiveSink& sink) {
  return parse_text(checked_text(read_to_end(fd, hooks), name), name, sink);
}

Outcome parse_stdin(const ReadHooks& hooks, DirectiveSink& sink) {
  StdinLock& stdin_state = stdin_lock();
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(stdin_state.mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    // Held by this very thread: a signal handler that runs during a read
    // started another one, which could never get the lock.
    if (stdin_state.owner.load() == me) return io_error(kStdinName, {IoError::Kind::Os, EDEADLK});
    hooks.wait([](void* l) { static_cast<std::unique_lock<std::mutex>*>(l)->lock(); }, &lock);
  }
  // The text is read under the lock; parsing needs it no longer. The owner
  // is cleared before the lock is let go.
  Result<std::string, SourceError> text = [&] {
    stdin_state.owner.store(me);
    struct ClearOwner {
      StdinLock& state;
      ~ClearOwner() { state.owner.store(std::thread::id{}); }
    } clear_owner{stdin_state};
    return checked_text(read_to_end(STDIN_FILENO, hooks), kStdinName);
  }();
  lock.unlock();
  return parse_text(std::move(text), kStdinName, sink);
}

Directives parse_str(std::string_view text, std::string_view file) {
  CollectingSink sink;
  // One directive line takes at least four bytes ("a:b" and a line break).
  sink.directives.reserve(std::min<std::size_t>(
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1, text.size() / 4 + 1));
  return sink.finish(parse_str(text, file, sink));
}

Directives parse_file(std::string_view path, const ReadHooks& hooks) {
  CollectingSink sink;
  return sink.finish(parse_file(path, hooks, sink));
}

Directives parse_reader(int fd, std::string_view name, const ReadHooks& hooks) {
  CollectingSink sink;
  return sink.finish(parse_reader(fd, name, hooks, sink));
}

Directives parse_stdin(const ReadHooks& hooks) {
  CollectingSink sink;
  return sink.finish(parse_stdin(hooks, sink));
}

}  // namespace tarnwick::source
