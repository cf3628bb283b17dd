// POSIX: file descriptors, read(2), strerror_r.
#if !defined(_WIN32)

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "source/platform.h"

namespace tarnwick::source::platform {
namespace {

// The null device is read as the empty file it is (`@/dev/null` is how a
// script passes no rules); a device is told by its number, whatever its path.
bool is_null_device(const struct stat& st) {
  struct stat null;
  return S_ISCHR(st.st_mode) && ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
         st.st_rdev == null.st_rdev;
}

// Refused: a device other than the null device.
bool is_device(const struct stat& st) {
  return (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) && !is_null_device(st);
}

Failure os_failure(int code) {
  return code == EINTR ? Failure{Failure::Kind::Interrupted} : Failure{Failure::Kind::Os, code};
}

// strerror_r comes in two flavours; each overload picks its result.
[[maybe_unused]] const char* strerror_result(int, const char* buf) { return buf; }
[[maybe_unused]] const char* strerror_result(const char* message, const char*) { return message; }

}  // namespace

Result<Handle, Failure> open_file(std::string_view path) {
  const std::string c_path(path);
  // A device is refused before it is opened: opening one can have effects
  // of its own (a terminal, a tape). When stat fails, open reports why.
  struct stat st;
  if (::stat(c_path.c_str(), &st) == 0 && is_device(st)) return Err{Failure{Failure::Kind::Device}};
  const int fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return Err{os_failure(errno)};
  // The path may have been replaced by a device in between.
  if (::fstat(fd, &st) == 0 && is_device(st)) {
    ::close(fd);
    return Err{Failure{Failure::Kind::Device}};
  }
  return Handle{fd, true};
}

Handle standard_input() { return Handle{STDIN_FILENO, false}; }

std::uint64_t size_hint(Handle handle) {
  struct stat st;
  if (::fstat(static_cast<int>(handle.native), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(st.st_size);
}

Result<std::size_t, Failure> read_some(Handle handle, char* buffer, std::size_t size) {
  const ssize_t got =
      ::read(static_cast<int>(handle.native), buffer, std::min<std::size_t>(size, SSIZE_MAX));
  if (got < 0) return Err{os_failure(errno)};
  return static_cast<std::size_t>(got);
}

void close(Handle handle) {
  // Not retried on EINTR: the descriptor is gone either way on Linux, and
  // a retry could close one another thread just opened.
  if (handle.owned) ::close(static_cast<int>(handle.native));
}

int deadlock_code() { return EDEADLK; }

std::string os_error_text(int code) {
  char buf[256] = {0};
  return std::string(strerror_result(strerror_r(code, buf, sizeof buf), buf)) + " (os error " +
         std::to_string(code) + ")";
}

}  // namespace tarnwick::source::platform

#endif  // !_WIN32
