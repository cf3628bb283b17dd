// Directive files: read whole (read.h), then parsed line by line. A
// byte-order mark at the start is skipped; lines end at LF (a CR before it
// is dropped); every line counts for numbering; lines are trimmed of
// White_Space; blank lines and lines starting with `#` are skipped; the
// first bad line stops everything.
//
// A source hands each directive to a sink as soon as it is parsed (the
// module builds its result objects that way, without an intermediate list).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "source/platform.h"
#include "source/read.h"
#include "source/source_error.h"

namespace tarnwick::source {

using Directives = Result<std::vector<Sourced>, SourceError>;

// Receives the directives of a source in order. Returning false stops the
// source early; the caller of the source knows why.
class DirectiveSink {
 public:
  virtual bool accept(Directive&& directive, const std::optional<Origin>& origin) = 0;

 protected:
  ~DirectiveSink() = default;
};

// What a sink-fed source reports: nothing (done, or stopped by the sink) or
// the error that ended it. Directives already handed over are the sink's.
using Outcome = std::optional<SourceError>;

// The text of a directive file; `file` names it in origins and errors and
// must outlive the result.
Outcome parse_str(std::string_view text, std::string_view file, DirectiveSink& sink);
Directives parse_str(std::string_view text, std::string_view file);

// The file at `path` (unchanged: relative to the current directory).
Outcome parse_file(std::string_view path, ReadHooks& hooks, DirectiveSink& sink);

// An open handle read to its end, named `name`.
Outcome parse_reader(platform::Handle handle, std::string_view name, ReadHooks& hooks,
                     DirectiveSink& sink);

// Standard input, named "<stdin>".
Outcome parse_stdin(ReadHooks& hooks, DirectiveSink& sink);

// Collects what a sink-fed source produces into a list.
class CollectingSink final : public DirectiveSink {
 public:
  bool accept(Directive&& directive, const std::optional<Origin>& origin) override {
    directives.push_back({std::move(directive), origin});
    return true;
  }
  Directives finish(Outcome outcome) {
    if (outcome) return Err{std::move(*outcome)};
    return std::move(directives);
  }
  std::vector<Sourced> directives;
};

}  // namespace tarnwick::source
