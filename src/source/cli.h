// One `-D` value to its directives: `@-` reads standard input, `@PATH` reads
// the file PATH (verbatim, no trimming), anything else is one inline
// directive. The value is examined untrimmed.
#pragma once

#include <string_view>

#include "source/file.h"

namespace tarnwick::cli {

// `value` must outlive the result: origins borrow the path from it.
source::Directives expand(std::string_view value, const source::ReadHooks& hooks);
source::Outcome expand(std::string_view value, const source::ReadHooks& hooks,
                       source::DirectiveSink& sink);

}  // namespace tarnwick::cli
