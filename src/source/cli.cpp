#include "source/cli.h"

namespace tarnwick::cli {

source::Outcome expand(std::string_view value, const source::ReadHooks& hooks,
                       source::DirectiveSink& sink) {
  if (value.starts_with('@')) {
    if (value == "@-") return source::parse_stdin(hooks, sink);
    return source::parse_file(value.substr(1), hooks, sink);
  }
  auto parsed = parse_as<std::string>(value);
  if (!parsed) return source::SourceError{source::SourceError::Parse{std::nullopt, 0, parsed.error()}};
  sink.accept(std::move(parsed.value()), std::nullopt);
  return std::nullopt;
}

source::Directives expand(std::string_view value, const source::ReadHooks& hooks) {
  source::CollectingSink sink;
  return sink.finish(expand(value, hooks, sink));
}

}  // namespace tarnwick::cli
