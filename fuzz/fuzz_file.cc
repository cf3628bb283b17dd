// Directive files: the bytes of a file, which may be anything.
//
// The bytes go through parse_str, as the text of a real file would. One
// input in eight also goes through parse_reader on a memory file
// descriptor, which must give the same outcome. Checks:
//  - is_valid_utf8 agrees with a strict decoder, and so does Utf8Stream fed
//    the bytes in pieces (cut after every byte that is a multiple of 3);
//  - for valid text, the result agrees with the file format as written:
//    byte-order mark skipped, LF lines with a CR before the LF (or at the
//    very end) dropped, every line numbered, White_Space trimmed, blank and
//    `#` lines skipped, each other line parsed, the first bad line reported
//    as "{file}:{line}: {why}" and nothing else returned.
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <string>
#include <string_view>
#include <vector>

#include "core/unicode.h"
#include "fuzz_common.h"
#include "source/file.h"
#include "source/utf8_stream.h"

namespace {

using tarnwick::source::Directives;

constexpr std::string_view kFile = "rules.txt";

// The same content read back through a file descriptor. Memory files are
// Linux's; elsewhere (the Windows replay build) only parse_str is checked.
std::optional<Directives> through_reader(std::string_view bytes) {
#if !defined(__linux__)
  static_cast<void>(bytes);
  return std::nullopt;
#else
  const int fd = memfd_create("fuzz_file", MFD_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) {
      ::close(fd);
      return std::nullopt;
    }
    done += static_cast<std::size_t>(wrote);
  }
  ::lseek(fd, 0, SEEK_SET);
  tarnwick::source::NoHooks hooks;
  tarnwick::source::CollectingSink sink;
  Directives result = sink.finish(tarnwick::source::parse_reader({fd, false}, kFile, hooks, sink));
  ::close(fd);
  return result;
#endif
}

bool same_directive(const tarnwick::Directive& a, const tarnwick::Directive& b) {
  return tarnwick::canonical_text(a) == tarnwick::canonical_text(b) && a.kind() == b.kind() &&
         (a.path() != nullptr) == (b.path() != nullptr) && a.note().has_value() == b.note().has_value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  const fuzz::HeapText input(fuzz::as_text(data, size));
  const std::string_view bytes = input.view();

  const bool valid = tarnwick::unicode::is_valid_utf8(bytes);
  FUZZ_CHECK(valid == fuzz::ref_valid_utf8(bytes));
  tarnwick::source::Utf8Stream stream;
  bool stream_ok = true;
  for (std::size_t i = 0; i < bytes.size() && stream_ok; ++i) {
    if (static_cast<unsigned char>(bytes[i]) % 3 == 0) stream_ok = stream.more(bytes.substr(0, i + 1));
  }
  FUZZ_CHECK(valid == (stream_ok && stream.end(bytes)));

  // Reading through a file descriptor costs system calls: one input in 8,
  // chosen by its bytes so that a replay takes the same route, goes that
  // way too.
  std::uint32_t hash = 2166136261u;
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  const std::optional<Directives> read = hash % 8 == 0 ? through_reader(bytes) : std::nullopt;
  if (!valid) {
    if (read) {
      FUZZ_CHECK(!*read);
      FUZZ_CHECK(read->error().message() == "rules.txt: stream did not contain valid UTF-8");
    }
    return 0;
  }

  const Directives got = tarnwick::source::parse_str(bytes, kFile);

  // The file format, from its rules.
  std::string_view text = bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> lines = fuzz::split_lines(text);
  if (!text.empty() && text.back() == '\n') lines.pop_back();  // no line after a final LF
  std::vector<std::pair<std::uint64_t, std::string_view>> wanted;  // (number, trimmed text)
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = fuzz::ref_trim(line);
    if (line.empty() || line.front() == '#') continue;
    wanted.emplace_back(i + 1, line);
  }

  // Each line by the grammar's reference (fuzz_common.h), which compiles
  // no glob: fuzz_parse checks the parser against it in depth.
  std::vector<fuzz::RefDirective> parsed_lines;
  std::optional<std::pair<std::uint64_t, std::string>> bad;  // (line, parser message)
  for (const auto& [number, line] : wanted) {
    fuzz::RefDirective parsed = fuzz::ref_parse(line);
    if (!parsed.error.empty()) {
      bad.emplace(number, parsed.error);
      break;
    }
    parsed_lines.push_back(std::move(parsed));
  }

  if (bad) {
    FUZZ_CHECK(!got);
    const auto* parse_error = std::get_if<tarnwick::source::SourceError::Parse>(&got.error().detail);
    FUZZ_CHECK(parse_error != nullptr);
    FUZZ_CHECK(parse_error->file == std::string(kFile));
    FUZZ_CHECK(parse_error->line == bad->first);
    FUZZ_CHECK(got.error().message() ==
               std::string(kFile) + ":" + std::to_string(bad->first) + ": " + bad->second);
  } else {
    FUZZ_CHECK(got);
    const auto& out = got.value();
    FUZZ_CHECK(out.size() == wanted.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
      FUZZ_CHECK(out[i].origin.has_value());
      FUZZ_CHECK(out[i].origin->file == kFile);
      FUZZ_CHECK(out[i].origin->line == wanted[i].first);
      const tarnwick::Directive& d = out[i].directive;
      const fuzz::RefDirective& ref = parsed_lines[i];
      FUZZ_CHECK(d.action() == ref.action && d.kind() == ref.kind && d.name().source() == ref.name);
      FUZZ_CHECK((d.path() != nullptr) == ref.path.has_value() && (!d.path() || d.path()->source() == *ref.path));
      FUZZ_CHECK(d.note().has_value() == ref.note.has_value() && (!d.note() || *d.note() == *ref.note));
    }
  }

  if (read) {
    FUZZ_CHECK(read->ok() == got.ok());
    if (!got) {
      FUZZ_CHECK(read->error().message() == got.error().message());
    } else {
      FUZZ_CHECK(read->value().size() == got.value().size());
      for (std::size_t i = 0; i < got.value().size(); ++i) {
        FUZZ_CHECK(same_directive(read->value()[i].directive, got.value()[i].directive));
        FUZZ_CHECK(read->value()[i].origin->line == got.value()[i].origin->line);
      }
    }
  }
  return 0;
}
