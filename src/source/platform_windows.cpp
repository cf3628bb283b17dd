// Windows: HANDLEs, UTF-16 paths converted from UTF-8, ReadFile (and
// ReadConsoleW for a console), FormatMessageW.
#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <string>

#include "source/platform.h"

namespace tarnwick::source::platform {
namespace {

HANDLE native_handle(Handle handle) { return reinterpret_cast<HANDLE>(handle.native); }

Failure last_failure() { return Failure{Failure::Kind::Os, static_cast<int>(GetLastError())}; }

// UTF-8 to UTF-16 for the wide API. Invalid UTF-8 fails with
// ERROR_NO_UNICODE_TRANSLATION rather than being replaced, so that no other
// file than the one named is ever opened.
bool to_wide(std::string_view text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (wide <= 0) return false;
  out.resize(static_cast<std::size_t>(wide));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out.data(), wide) ==
         wide;
}

// UTF-16 from the system (messages, console input) to UTF-8; an unpaired
// surrogate becomes U+FFFD.
std::string to_utf8(const wchar_t* text, std::size_t size) {
  if (size == 0 || size > INT_MAX) return {};
  const int length = static_cast<int>(size);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

bool is_console(HANDLE handle) {
  DWORD mode;
  return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

// A console hands over UTF-16 whatever its code page; what did not fit the
// caller's buffer waits here for the next read of the same thread.
thread_local std::string console_pending;

Result<std::size_t, Failure> read_console(HANDLE handle, char* buffer, std::size_t size) {
  if (console_pending.empty()) {
    // At most 3 UTF-8 bytes per UTF-16 unit: most reads fit the buffer.
    wchar_t wide[4096];
    const DWORD want = static_cast<DWORD>(std::clamp<std::size_t>(size / 3, 2, std::size(wide)));
    DWORD got = 0;
    if (!ReadConsoleW(handle, wide, want, &got, nullptr)) return Err{last_failure()};
    if (got == 0) {
      // Ctrl-C ends a console read early with nothing read.
      if (GetLastError() == ERROR_OPERATION_ABORTED) return Err{Failure{Failure::Kind::Interrupted}};
      return std::size_t{0};
    }
    // Ctrl-Z at the start of a line ends console input.
    if (wide[0] == L'\x1A') return std::size_t{0};
    console_pending = to_utf8(wide, got);
  }
  const std::size_t n = std::min(size, console_pending.size());
  std::memcpy(buffer, console_pending.data(), n);
  console_pending.erase(0, n);
  return n;
}

// Whether a path names the null device: `NUL` (any case, in any
// directory, with any extension on older systems) or `\\.\NUL`, as the
// system resolves it.
bool is_null_device(const std::wstring& path) {
  wchar_t full[16];
  const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
  const wchar_t* want = L"\\\\.\\NUL";
  if (n != 7) return false;
  for (int i = 0; i < 7; ++i) {
    const wchar_t c = (full[i] >= L'a' && full[i] <= L'z') ? static_cast<wchar_t>(full[i] - L'a' + L'A') : full[i];
    if (c != want[i]) return false;
  }
  return true;
}

}  // namespace

Result<Handle, Failure> open_file(std::string_view path) {
  std::wstring wide;
  if (!to_wide(path, wide)) return Err{last_failure()};
  // Not inheritable (no security attributes); others may go on writing,
  // renaming or deleting the file meanwhile, as on POSIX.
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Err{last_failure()};
  // A device (CON, a serial port) cannot be told from its name without
  // opening it; opening for reading reads nothing. NUL reads as empty.
  if (GetFileType(handle) == FILE_TYPE_CHAR && !is_null_device(wide)) {
    CloseHandle(handle);
    return Err{Failure{Failure::Kind::Device}};
  }
  return Handle{reinterpret_cast<std::intptr_t>(handle), true};
}

Handle standard_input() {
  return Handle{reinterpret_cast<std::intptr_t>(GetStdHandle(STD_INPUT_HANDLE)), false};
}

std::uint64_t size_hint(Handle handle) {
  const HANDLE native = native_handle(handle);
  LARGE_INTEGER size;
  if (GetFileType(native) != FILE_TYPE_DISK || !GetFileSizeEx(native, &size) || size.QuadPart < 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

Result<std::size_t, Failure> read_some(Handle handle, char* buffer, std::size_t size) {
  const HANDLE native = native_handle(handle);
  if (is_console(native)) return read_console(native, buffer, size);
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(native, buffer, want, &got, nullptr)) {
    const DWORD error = GetLastError();
    // The writing end of a pipe was closed: the end of the input.
    if (error == ERROR_BROKEN_PIPE) return std::size_t{0};
    if (error == ERROR_OPERATION_ABORTED) return Err{Failure{Failure::Kind::Interrupted}};
    return Err{Failure{Failure::Kind::Os, static_cast<int>(error)}};
  }
  return static_cast<std::size_t>(got);
}

void close(Handle handle) {
  if (handle.owned) CloseHandle(native_handle(handle));
}

int deadlock_code() { return ERROR_POSSIBLE_DEADLOCK; }

std::string os_error_text(int code) {
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text;
  if (length > 0 && message != nullptr) {
    // System messages end with a line break.
    std::size_t end = length;
    while (end > 0 && (message[end - 1] == L'\r' || message[end - 1] == L'\n' || message[end - 1] == L' ')) {
      --end;
    }
    text = to_utf8(message, end);
  }
  if (message != nullptr) LocalFree(message);
  if (text.empty()) text = "Unknown error " + std::to_string(code);
  return text + " (os error " + std::to_string(code) + ")";
}

}  // namespace tarnwick::source::platform

#endif  // _WIN32
