// One form for the paths a target is scoped by, so that `./src/a.py`,
// `/repo/src/a.py` (under the root /repo) and, on Windows, `src\a.py` all
// read as `src/a.py` and match `@src/*` alike.
//
//   scope_path("./src/a.py", {})              == "src/a.py"
//   scope_path("/repo/src/../src/a.py", {"/repo"}) == "src/a.py"
//   scope_path("/elsewhere/a.py", {"/repo"})  == "/elsewhere/a.py"
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

// Whether `\` separates directories on this platform (and so is read as `/`).
#ifdef _WIN32
inline constexpr bool kBackslashSeparates = true;
#else
inline constexpr bool kBackslashSeparates = false;
#endif

// Whether `path` (already in `/` form) is absolute: a leading `/`, or on
// Windows a drive letter followed by `:/`.
bool is_absolute_path(std::string_view path);

// An absolute path lexically normalised: `//`, `.` and `..` components
// resolved, no trailing `/` (except for the root itself).
std::string normalise_absolute(std::string_view path);

// A root as given (any separators) in the form `scope_path` compares with.
std::string root_form(std::string_view root);

// The scope `path` stands for: `\` read as `/` where it separates
// directories; a relative path loses its leading `./` (any number of them);
// an absolute one is normalised and made relative to the first of `roots`
// (each in root_form) it lies under, or else stays absolute. Returns `path`
// itself when nothing changes, else a view of `scratch`. Linear in the size
// of `path` times the number of roots.
std::string_view scope_path(std::string_view path, std::span<const std::string> roots,
                            std::string& scratch);

}  // namespace tarnwick
