// Directive files through the platform's own reader, on the platform this
// is built for (scripts/cross runs the Windows build under wine): line ends,
// byte-order marks, a missing file's message, a non-ASCII path, a device, a
// directory, a file over the size limit, bad UTF-8 in a file and in a path.
// With `--stdin` it also reads standard input, which must hold exactly
// "x:stdin\r\n".
//
// The files are written with the standard library into a fresh directory
// under the system's temporary directory, which becomes the current one, so
// every path the reader sees is relative.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "source/file.h"

namespace {

namespace fs = std::filesystem;
using tarnwick::source::CollectingSink;
using tarnwick::source::Directives;
using tarnwick::source::IoError;
using tarnwick::source::SourceError;

int passed = 0;
int failed = 0;

void check(bool ok, std::string_view what, const std::string& detail = {}) {
  if (ok) {
    ++passed;
    return;
  }
  ++failed;
  std::fprintf(stderr, "FAILED: %.*s%s%s\n", static_cast<int>(what.size()), what.data(),
               detail.empty() ? "" : ": ", detail.c_str());
}

// A UTF-8 file name as a path, the same on every platform.
fs::path utf8_path(std::string_view name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

void write_file(std::string_view name, std::string_view bytes) {
  std::ofstream out(utf8_path(name), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Directives read_file(std::string_view path) {
  tarnwick::source::NoHooks hooks;
  CollectingSink sink;
  return sink.finish(tarnwick::source::parse_file(path, hooks, sink));
}

std::string message_of(const Directives& got) { return got ? "no error" : got.error().message(); }

const IoError* io_error(const Directives& got) {
  if (got) return nullptr;
  const auto* io = std::get_if<SourceError::Io>(&got.error().detail);
  return io ? &io->error : nullptr;
}

// "{path}: {the system's text} (os error {code})" with a one-line text.
void check_os_error(const Directives& got, std::string_view path, int code, std::string_view what) {
  const IoError* io = io_error(got);
  const std::string message = message_of(got);
  const std::string head = std::string(path) + ": ";
  const std::string tail = " (os error " + std::to_string(code) + ")";
  check(io && io->kind == IoError::Kind::Os && io->code == code && message.starts_with(head) &&
            message.ends_with(tail) && message.size() > head.size() + tail.size() &&
            message.find_first_of("\r\n") == std::string::npos,
        what, message);
}

void line_ends_and_marks() {
  write_file("crlf.txt", "a:b\r\n# comment\r\n\r\n  d:<k>e@f=g \r\n");
  const Directives crlf = read_file("crlf.txt");
  check(crlf && crlf.value().size() == 2, "CRLF: two directives", message_of(crlf));
  if (crlf && crlf.value().size() == 2) {
    const auto& first = crlf.value()[0];
    const auto& second = crlf.value()[1];
    check(first.directive.action() == "a" && first.directive.name().source() == "b" &&
              first.origin->line == 1 && first.origin->file == "crlf.txt",
          "CRLF: first line");
    check(second.directive.action() == "d" && second.directive.kind() == "k" &&
              second.directive.name().source() == "e" && second.directive.path()->source() == "f" &&
              second.directive.note() == "g" && second.origin->line == 4,
          "CRLF: a CR before LF is no part of the note");
  }

  write_file("bom.txt", "\xEF\xBB\xBF" "a:b\n");
  const Directives bom = read_file("bom.txt");
  check(bom && bom.value().size() == 1 && bom.value()[0].directive.action() == "a",
        "BOM: skipped at the start", message_of(bom));

  write_file("bom-bad.txt", "\xEF\xBB\xBF\r\nno colon\r\n");
  check(message_of(read_file("bom-bad.txt")) ==
            "bom-bad.txt:2: expected `ACTION:\xE2\x80\xA6` (no `:` found)",
        "BOM: lines still counted from 1", message_of(read_file("bom-bad.txt")));
}

void paths() {
#if defined(_WIN32)
  constexpr int kNotFound = 2;  // ERROR_FILE_NOT_FOUND
  constexpr std::string_view kDevice = "CON";
  constexpr std::string_view kNullDevice = "NUL";
#else
  constexpr int kNotFound = 2;  // ENOENT
  constexpr std::string_view kDevice = "/dev/zero";
  constexpr std::string_view kNullDevice = "/dev/null";
#endif
  check_os_error(read_file("no-such-file.txt"), "no-such-file.txt", kNotFound, "missing file");
#if !defined(_WIN32)
  check(message_of(read_file("no-such-file.txt")) ==
            "no-such-file.txt: No such file or directory (os error 2)",
        "missing file: the system's text");
#endif

  // e-grave, a check mark (3 bytes) and an emoji (4 bytes, a surrogate pair
  // in UTF-16).
  const std::string name = "r\xC3\xA8gles-\xE2\x9C\x93-\xF0\x9F\x98\x80.txt";
  write_file(name, "x:y\n");
  const Directives unicode = read_file(name);
  check(unicode && unicode.value().size() == 1 && unicode.value()[0].origin->file == name,
        "non-ASCII path", message_of(unicode));

  const Directives device = read_file(kDevice);
#if defined(_WIN32)
  // Without a console (CI, wine in the background) CON cannot even be
  // opened; either way nothing is read from it.
  const bool unopened = io_error(device) && io_error(device)->kind == IoError::Kind::Os;
#else
  const bool unopened = false;
#endif
  check(unopened || (io_error(device) && io_error(device)->kind == IoError::Kind::NotFileOrPipe &&
                     message_of(device) == std::string(kDevice) + ": not a regular file or pipe"),
        "device refused", message_of(device));
  // The null device is the empty file it reads as.
  const Directives null_device = read_file(kNullDevice);
  check(null_device && null_device.value().empty(), "null device", message_of(null_device));

  fs::create_directory("dir");
  const Directives dir = read_file("dir");
  check(io_error(dir) && io_error(dir)->kind == IoError::Kind::Os &&
            message_of(dir).starts_with("dir: "),
        "directory: the system's error", message_of(dir));

  // Not UTF-8: no file of another name is opened instead.
  const Directives bad_name = read_file("bad-\xFF.txt");
  check(io_error(bad_name) && io_error(bad_name)->kind == IoError::Kind::Os,
        "path that is not UTF-8", message_of(bad_name));
}

void contents() {
  write_file("bad-utf8.txt", "a:b\n\xFF\n");
  check(message_of(read_file("bad-utf8.txt")) == "bad-utf8.txt: stream did not contain valid UTF-8",
        "invalid UTF-8 in a file", message_of(read_file("bad-utf8.txt")));

  // A sparse file one byte over the limit: refused before it is read.
  write_file("big.txt", "");
  std::error_code ec;
  fs::resize_file("big.txt", tarnwick::source::kMaxSourceBytes + 1, ec);
  if (!ec) {
    check(message_of(read_file("big.txt")) ==
              "big.txt: larger than 1 GiB, the limit for a directive source",
          "size limit", message_of(read_file("big.txt")));
    fs::remove("big.txt", ec);
  }
}

void standard_input() {
  tarnwick::source::NoHooks hooks;
  CollectingSink sink;
  const Directives got = sink.finish(tarnwick::source::parse_stdin(hooks, sink));
  check(got && got.value().size() == 1 && got.value()[0].directive.action() == "x" &&
            got.value()[0].directive.name().source() == "stdin" &&
            got.value()[0].origin->file == "<stdin>",
        "standard input", message_of(got));
}

}  // namespace

int main(int argc, char** argv) {
  const bool with_stdin = argc > 1 && std::string_view(argv[1]) == "--stdin";
  const fs::path dir = fs::temp_directory_path() /
                       ("tarnwick-source-cases-" + std::to_string(std::random_device{}()));
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  const fs::path start = fs::current_path();
  fs::current_path(dir);

  line_ends_and_marks();
  paths();
  contents();
  if (with_stdin) standard_input();

  fs::current_path(start);
  fs::remove_all(dir, ec);
  std::printf("source_cases: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
