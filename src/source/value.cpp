#include "source/value.h"

namespace tarnwick::source {

Outcome expand_value(std::string_view value, ReadHooks& hooks, DirectiveSink& sink) {
  if (value.starts_with('@')) {
    if (value == "@-") return parse_stdin(hooks, sink);
    return parse_file(value.substr(1), hooks, sink);
  }
  auto parsed = parse_as<std::string>(value);
  if (!parsed) return SourceError{SourceError::Parse{std::nullopt, 0, parsed.error()}};
  sink.accept(std::move(parsed.value()), std::nullopt);
  return std::nullopt;
}

}  // namespace tarnwick::source
