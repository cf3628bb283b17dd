// The SARIF fast path's readers against a reference written here over a
// small tree of the input (built only once JsonScanner accepts it, so its
// depth is bounded): read_simple_result finds a result simple exactly when
// the reference does, with the same fields and member spans; and
// append_canonical gives a compact form exactly when the reference finds no
// escape, no number but a plain integer (nor -0) and no repeated key, and
// then the same text. On any other input both only have to stay in bounds.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_canonical.h"
#include "core/json_scan.h"
#include "fuzz_common.h"
#include "lint/sarif_result.h"

namespace {

using tarnwick::lint::ArtifactRef;
using tarnwick::lint::SimpleResult;

struct Node {
  char kind = 0;         // '{', '[', '"' (string), '0' (number), 'l' (literal)
  std::string_view raw;  // the value as written (a string without its quotes)
  bool escaped = false;  // a string with a backslash
  std::size_t start = 0, end = 0;
  std::vector<Node> keys, values;  // of an object; a key's start is its member's
  std::vector<Node> elements;
};

// A recursive reader for text that JsonScanner accepted (depth at most kDepth).
struct Tree {
  std::string_view s;
  std::size_t i = 0;
  void blank() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  }
  Node string() {
    Node n;
    n.kind = '"';
    n.start = i++;
    while (s[i] != '"') {
      if (s[i] == '\\') {
        n.escaped = true;
        ++i;
      }
      ++i;
    }
    n.raw = s.substr(n.start + 1, i - n.start - 1);
    n.end = ++i;
    return n;
  }
  Node value() {
    blank();
    Node n;
    if (s[i] == '"') return string();
    n.start = i;
    if (s[i] == '{' || s[i] == '[') {
      n.kind = s[i++];
      blank();
      while (s[i] != '}' && s[i] != ']') {
        if (n.kind == '{') {
          blank();
          Node key = string();
          blank();
          ++i;  // ':'
          n.keys.push_back(key);
          n.values.push_back(value());
        } else {
          n.elements.push_back(value());
        }
        blank();
        if (s[i] == ',') ++i;
        blank();
      }
      n.end = ++i;
      return n;
    }
    n.kind = (s[i] == '-' || (s[i] >= '0' && s[i] <= '9')) ? '0' : 'l';
    while (i < s.size() && std::string_view(" \t\r\n,]}").find(s[i]) == std::string_view::npos) ++i;
    n.end = i;
    n.raw = s.substr(n.start, n.end - n.start);
    return n;
  }
};

bool plain_text(const Node& n) { return n.kind == '"' && !n.escaped; }

std::optional<std::int64_t> plain_integer(const Node& n) {
  if (n.kind != '0' || n.raw.find_first_of(".eE") != std::string_view::npos) return std::nullopt;
  const std::string_view digits = n.raw.front() == '-' ? n.raw.substr(1) : n.raw;
  if (digits.size() > 18) return std::nullopt;
  std::int64_t v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return n.raw.front() == '-' ? -v : v;
}

// The (key, value) pairs of an object whose keys are all plain; nothing otherwise.
std::optional<std::vector<std::pair<const Node*, const Node*>>> plain_members(const Node& n) {
  if (n.kind != '{') return std::nullopt;
  std::vector<std::pair<const Node*, const Node*>> out;
  for (std::size_t k = 0; k < n.keys.size(); ++k) {
    if (n.keys[k].escaped) return std::nullopt;
    out.emplace_back(&n.keys[k], &n.values[k]);
  }
  return out;
}

bool artifact_of(const Node& n, ArtifactRef& out) {
  const auto members = plain_members(n);
  if (!members) return false;
  for (const auto& [key, value] : *members) {
    if (key->raw == "uri" || key->raw == "uriBaseId") {
      if (!plain_text(*value)) return false;
      (key->raw == "uri" ? out.uri : out.uri_base_id) = value->raw;
    } else if (key->raw == "index") {
      if (!(out.index = plain_integer(*value))) return false;
    }
  }
  return true;
}

bool location_of(const Node& n, std::optional<ArtifactRef>& out) {
  const auto members = plain_members(n);
  if (!members) return false;
  for (const auto& [key, physical] : *members) {
    if (key->raw != "physicalLocation") continue;
    out.reset();
    const auto inner = plain_members(*physical);
    if (!inner) return false;
    for (const auto& [key2, artifact] : *inner) {
      if (key2->raw != "artifactLocation") continue;
      out.emplace();
      if (!artifact_of(*artifact, *out)) return false;
    }
  }
  return true;
}

bool reference(const Node& n, SimpleResult& out) {
  const auto members = plain_members(n);
  if (!members) return false;
  bool rule_id = false;
  for (const auto& [key_node, value_node] : *members) {
    const Node& key = *key_node;
    const Node& value = *value_node;
    const std::string_view k = key.raw;
    if (k == "ruleId" || k == "level" || k == "kind") {
      if (!plain_text(value)) return false;
      if (k == "level" && value.raw != "error" && value.raw != "warning" && value.raw != "note" &&
          value.raw != "none") {
        return false;
      }
      if (k == "ruleId") {
        out.rule_id = value.raw;
        rule_id = true;
      } else {
        (k == "level" ? out.level : out.kind) = value.raw;
      }
    } else if (k == "ruleIndex") {
      if (!(out.rule_index = plain_integer(value))) return false;
    } else if (k == "rule" || k == "suppressions") {
      return false;
    } else if (k == "properties") {
      const auto props = plain_members(value);
      if (!props) return false;
      for (const auto& [pk, _] : *props) {
        if (pk->raw == "tarnwick") return false;
      }
      out.has_properties = true;
    } else if (k == "locations") {
      if (value.kind != '[') return false;
      out.locations.clear();
      for (const Node& element : value.elements) {
        if (!location_of(element, out.locations.emplace_back())) return false;
      }
    }
    if (k != "level") out.kept.push_back({key.start, value.end});
  }
  return rule_id;
}

bool same(const std::optional<ArtifactRef>& a, const std::optional<ArtifactRef>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->uri == b->uri && a->uri_base_id == b->uri_base_id && a->index == b->index);
}

// The compact form by the rules, or nothing.
bool canonical(const Node& n, std::string& out) {
  switch (n.kind) {
    case '"':
      out += '"';
      out += n.raw;
      out += '"';
      return !n.escaped;
    case '0':
      out += n.raw;
      return n.raw.find_first_of(".eE") == std::string_view::npos && n.raw != "-0";  // ints of any length
    case 'l':
      out += n.raw;
      return true;
    case '[':
      out += '[';
      for (std::size_t k = 0; k < n.elements.size(); ++k) {
        if (k) out += ',';
        if (!canonical(n.elements[k], out)) return false;
      }
      out += ']';
      return true;
    default:
      out += '{';
      for (std::size_t k = 0; k < n.keys.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
          if (n.keys[j].raw == n.keys[k].raw) return false;
        }
        if (k) out += ',';
        if (!canonical(n.keys[k], out)) return false;
        out += ':';
        if (!canonical(n.values[k], out)) return false;
      }
      out += '}';
      return true;
  }
}

constexpr tarnwick::json::ScanLimits kLimits{16, 1 << 12, 64, 640};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  const fuzz::HeapText heap({reinterpret_cast<const char*>(data), size});
  const std::string_view text = heap.view();
  SimpleResult got;
  const bool simple = tarnwick::lint::read_simple_result(text, got);
  std::string compact;
  const bool has_compact = tarnwick::json::append_canonical(text, compact);

  tarnwick::json::JsonScanner scanner(0, kLimits);
  std::vector<tarnwick::json::ScanEvent> events;
  if (scanner.feed(text, events) || scanner.finish(events)) return 0;  // not JSON: only bounds count
  Tree tree{text};
  const Node root = tree.value();

  SimpleResult want;
  FUZZ_CHECK(simple == reference(root, want));
  if (simple) {
    FUZZ_CHECK(got.rule_id == want.rule_id && got.rule_index == want.rule_index);
    FUZZ_CHECK(got.level == want.level && got.kind == want.kind && got.has_properties == want.has_properties);
    FUZZ_CHECK(got.locations.size() == want.locations.size());
    for (std::size_t k = 0; k < got.locations.size(); ++k) FUZZ_CHECK(same(got.locations[k], want.locations[k]));
    FUZZ_CHECK(got.kept.size() == want.kept.size());
    for (std::size_t k = 0; k < got.kept.size(); ++k) {
      FUZZ_CHECK(got.kept[k].start == want.kept[k].start && got.kept[k].end == want.kept[k].end);
    }
  }
  std::string expected;
  FUZZ_CHECK(has_compact == canonical(root, expected));
  if (has_compact) FUZZ_CHECK(compact == expected);
  return 0;
}
