#include "source/file.h"

#include <algorithm>

#include "core/unicode.h"

namespace tarnwick::source {
namespace {

constexpr std::string_view kStdinName = "<stdin>";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

Outcome parse_text(const Text& text, std::string_view name, DirectiveSink& sink) {
  if (!text) return text.error();
  return parse_str(text.value(), name, sink);
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

Directives parse_str(std::string_view text, std::string_view file) {
  CollectingSink sink;
  // One directive line takes at least four bytes ("a:b" and a line break).
  sink.directives.reserve(std::min<std::size_t>(
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1, text.size() / 4 + 1));
  return sink.finish(parse_str(text, file, sink));
}

Outcome parse_file(std::string_view path, ReadHooks& hooks, DirectiveSink& sink) {
  return parse_text(read_file(path, hooks), path, sink);
}

Outcome parse_reader(platform::Handle handle, std::string_view name, ReadHooks& hooks,
                     DirectiveSink& sink) {
  return parse_text(read_handle(handle, name, hooks), name, sink);
}

Outcome parse_stdin(ReadHooks& hooks, DirectiveSink& sink) {
  return parse_text(read_stdin(hooks), kStdinName, sink);
}

}  // namespace tarnwick::source
