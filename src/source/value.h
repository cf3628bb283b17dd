// One `-D` value to its directives: `@-` reads standard input, `@PATH` reads
// the file PATH (verbatim, no trimming), anything else is one inline
// directive. The value is examined untrimmed.
#pragma once

#include <string_view>

#include "source/file.h"

namespace tarnwick::source {

// `value` must outlive what the sink keeps: origins borrow the path from it.
Outcome expand_value(std::string_view value, ReadHooks& hooks, DirectiveSink& sink);

}  // namespace tarnwick::source
