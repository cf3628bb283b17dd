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
  return {SourceError::Io{std::string(file), error}};
}

Directives parse_read(Result<std::string, ReadFailure> read, std::string_view name) {
  if (!read) {
    if (read.error().interrupted) return Err{SourceError{SourceError::Interrupted{}}};
    return Err{io_error(name, read.error().error)};
  }
  if (!unicode::is_valid_utf8(read.value())) {
    return Err{io_error(name, {IoError::Kind::InvalidUtf8})};
  }
  return parse_str(read.value(), name);
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

Directives parse_str(std::string_view text, std::string_view file) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::vector<Sourced> out;
  // A directive line takes at least four bytes ("a:b" and its line break):
  // reserving for that many spares the moves of a growing vector without
  // reserving for the blank lines.
  out.reserve(std::min<std::size_t>(
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1, text.size() / 4 + 1));
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
    if (!parsed) {
      return Err{SourceError{SourceError::Parse{std::string(file), number, parsed.error()}}};
    }
    out.push_back({std::move(parsed).value(), Origin{file, number}});
  }
  return out;
}

Directives parse_file(std::string_view path, const ReadHooks& hooks) {
  if (path.find('\0') != std::string_view::npos) {
    return Err{io_error(path, {IoError::Kind::NulInPath})};
  }
  const std::string c_path(path);
  int fd;
  // Opening a FIFO blocks until a writer appears; a signal may cut it short.
  while ((fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
    if (!hooks.keep_going()) return Err{SourceError{SourceError::Interrupted{}}};
  }
  if (fd < 0) return Err{io_error(path, {IoError::Kind::Os, errno})};
  FileDescriptor file(fd);
  return parse_read(read_to_end(file.get(), hooks), path);
}

Directives parse_reader(int fd, std::string_view name, const ReadHooks& hooks) {
  return parse_read(read_to_end(fd, hooks), name);
}

Directives parse_stdin(const ReadHooks& hooks) {
  StdinLock& stdin_state = stdin_lock();
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(stdin_state.mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    // Held by this very thread: a signal handler that runs during a read
    // started another one, which could never get the lock.
    if (stdin_state.owner.load() == me) {
      return Err{io_error(kStdinName, {IoError::Kind::Os, EDEADLK})};
    }
    hooks.wait([](void* l) { static_cast<std::unique_lock<std::mutex>*>(l)->lock(); }, &lock);
  }
  stdin_state.owner.store(me);
  struct ClearOwner {
    StdinLock& state;
    ~ClearOwner() { state.owner.store(std::thread::id{}); }
  } clear_owner{stdin_state};
  return parse_reader(STDIN_FILENO, kStdinName, hooks);
}

}  // namespace tarnwick::source
