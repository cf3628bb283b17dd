#include "source/cli.h"

namespace tarnwick::cli {

source::Directives expand(std::string_view value, const source::ReadHooks& hooks) {
  if (value.starts_with('@')) {
    if (value == "@-") return source::parse_stdin(hooks);
    return source::parse_file(value.substr(1), hooks);
  }
  auto parsed = parse_as<std::string>(value);
  if (!parsed) {
    return Err{source::SourceError{source::SourceError::Parse{std::nullopt, 0, parsed.error()}}};
  }
  std::vector<source::Sourced> out;
  out.push_back({std::move(parsed).value(), std::nullopt});
  return out;
}

}  // namespace tarnwick::cli
