#include "core/scope_path.h"

#include <algorithm>
#include <vector>

namespace tarnwick {
namespace {

bool is_drive_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// How many bytes of `path` name its root: "/" or, on Windows, "C:/".
std::size_t root_length(std::string_view path) {
  if (kBackslashSeparates && path.size() >= 3 && is_drive_letter(path[0]) && path[1] == ':' &&
      path[2] == '/') {
    return 3;
  }
  return !path.empty() && path[0] == '/' ? 1 : 0;
}

std::string with_slashes(std::string_view path) {
  std::string out(path);
  if (kBackslashSeparates) std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

bool needs_rewrite(std::string_view path) {
  if (kBackslashSeparates && path.find('\\') != std::string_view::npos) return true;
  return path.starts_with("./") || path.starts_with('/') || root_length(path) > 0;
}

}  // namespace

bool is_absolute_path(std::string_view path) { return root_length(path) > 0; }

std::string normalise_absolute(std::string_view path) {
  const std::size_t head = root_length(path);
  std::vector<std::string_view> parts;
  std::size_t at = head;
  // One pass over the components: no recursion, each byte read once.
  while (at <= path.size()) {
    std::size_t end = path.find('/', at);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string out(path.substr(0, head));
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  return out;
}

std::string root_form(std::string_view root) {
  const std::string slashed = with_slashes(root);
  return is_absolute_path(slashed) ? normalise_absolute(slashed) : slashed;
}

std::string_view scope_path(std::string_view path, std::span<const std::string> roots,
                            std::string& scratch) {
  if (!needs_rewrite(path)) return path;
  scratch = with_slashes(path);
  if (!is_absolute_path(scratch)) {
    std::size_t drop = 0;
    while (scratch.compare(drop, 2, "./") == 0) drop += 2;
    scratch.erase(0, drop);
    return scratch;
  }
  scratch = normalise_absolute(scratch);
  for (const std::string& root : roots) {
    const bool bare_root = !root.empty() && root.back() == '/';  // "/" or "C:/"
    const std::size_t cut = bare_root ? root.size() : root.size() + 1;
    if (scratch.size() > cut && scratch.starts_with(root) && (bare_root || scratch[root.size()] == '/')) {
      scratch.erase(0, cut);
      return scratch;
    }
  }
  return scratch;
}

}  // namespace tarnwick
