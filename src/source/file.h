// Directive files: read whole, validated as UTF-8 as a whole, then parsed
// line by line. A byte-order mark at the start is skipped; lines end at LF
// (a CR before it is dropped); every line counts for numbering; lines are
// trimmed of White_Space; blank lines and lines starting with `#` are
// skipped; the first bad line stops everything.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "source/source_error.h"

namespace tarnwick::source {

using Directives = Result<std::vector<Sourced>, SourceError>;

// The text of a directive file; `file` names it in origins and errors and
// must outlive the result.
Directives parse_str(std::string_view text, std::string_view file);

// Reads the file at `path` (unchanged: relative to the current directory)
// to its end, whatever its type, and parses it.
Directives parse_file(std::string_view path, const ReadHooks& hooks);

// Reads the file descriptor to its end and parses it as `name`.
Directives parse_reader(int fd, std::string_view name, const ReadHooks& hooks);

// Standard input, read under a process-wide lock, named "<stdin>".
Directives parse_stdin(const ReadHooks& hooks);

}  // namespace tarnwick::source
