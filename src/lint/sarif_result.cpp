#include "lint/sarif_result.h"

namespace tarnwick::lint {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_level(std::string_view v) { return v == "error" || v == "warning" || v == "note" || v == "none"; }

// A cursor over one JSON text. Every read fails (false) on anything but the
// plain form it asks for, and never moves past the end.
class Reader {
 public:
  explicit Reader(std::string_view text) : t_(text) {}

  std::size_t pos() const { return p_; }
  bool at_end() {
    skip_space();
    return p_ == t_.size();
  }
  bool peek(char c) {
    skip_space();
    return p_ < t_.size() && t_[p_] == c;
  }
  bool eat(char c) {
    if (!peek(c)) return false;
    ++p_;
    return true;
  }

  // A string without escapes, its text between the quotes.
  bool plain_string(std::string_view& out) {
    if (!eat('"')) return false;
    const std::size_t start = p_;
    while (p_ < t_.size() && t_[p_] != '"' && t_[p_] != '\\') ++p_;
    if (p_ == t_.size() || t_[p_] != '"') return false;
    out = t_.substr(start, p_ - start);
    ++p_;
    return true;
  }

  // An integer without fraction or exponent, at most 18 digits.
  bool integer(std::int64_t& out) {
    skip_space();
    const bool negative = p_ < t_.size() && t_[p_] == '-';
    if (negative) ++p_;
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (p_ < t_.size() && t_[p_] >= '0' && t_[p_] <= '9') {
      if (++digits > 18) return false;
      value = value * 10 + (t_[p_++] - '0');
    }
    if (digits == 0) return false;
    if (p_ < t_.size() && (t_[p_] == '.' || t_[p_] == 'e' || t_[p_] == 'E')) return false;
    out = negative ? -value : value;
    return true;
  }

  // Any value. Brackets are counted, not matched: the text was checked as
  // JSON before, and on other text this only has to stay in bounds.
  bool skip() {
    skip_space();
    if (p_ == t_.size()) return false;
    const char c = t_[p_];
    if (c == '"') return skip_string();
    if (c != '{' && c != '[') {
      const std::size_t start = p_;
      while (p_ < t_.size() && !is_space(t_[p_]) && t_[p_] != ',' && t_[p_] != '}' && t_[p_] != ']') ++p_;
      return p_ > start;
    }
    std::size_t depth = 0;
    while (p_ < t_.size()) {
      const char d = t_[p_];
      if (d == '"') {
        if (!skip_string()) return false;
        continue;
      }
      ++p_;
      if (d == '{' || d == '[') {
        ++depth;
      } else if ((d == '}' || d == ']') && --depth == 0) {
        return true;
      }
    }
    return false;
  }

  // The members of an object: `member(key, key_start)` reads each value.
  template <class Member>
  bool members(Member member) {
    if (!eat('{')) return false;
    if (eat('}')) return true;
    do {
      skip_space();
      const std::size_t key_start = p_;
      std::string_view key;
      if (!plain_string(key) || !eat(':') || !member(key, key_start)) return false;
    } while (eat(','));
    return eat('}');
  }

  // The elements of an array: `element()` reads each.
  template <class Element>
  bool elements(Element element) {
    if (!eat('[')) return false;
    if (eat(']')) return true;
    do {
      if (!element()) return false;
    } while (eat(','));
    return eat(']');
  }

 private:
  void skip_space() {
    while (p_ < t_.size() && is_space(t_[p_])) ++p_;
  }
  bool skip_string() {
    ++p_;  // the opening quote
    while (p_ < t_.size()) {
      const char c = t_[p_];
      if (c == '\\') {
        p_ += p_ + 1 < t_.size() ? 2 : 1;
      } else {
        ++p_;
        if (c == '"') return true;
      }
    }
    return false;
  }

  std::string_view t_;
  std::size_t p_ = 0;
};

bool read_artifact(Reader& r, ArtifactRef& out) {
  return r.members([&](std::string_view key, std::size_t) {
    if (key == "uri") {
      std::string_view v;
      if (!r.plain_string(v)) return false;
      out.uri = v;
      return true;
    }
    if (key == "uriBaseId") {
      std::string_view v;
      if (!r.plain_string(v)) return false;
      out.uri_base_id = v;
      return true;
    }
    if (key == "index") {
      std::int64_t v = 0;
      if (!r.integer(v)) return false;
      out.index = v;
      return true;
    }
    return r.skip();
  });
}

bool read_location(Reader& r, std::optional<ArtifactRef>& out) {
  return r.members([&](std::string_view key, std::size_t) {
    if (key != "physicalLocation") return r.skip();
    out.reset();
    return r.members([&](std::string_view inner, std::size_t) {
      if (inner != "artifactLocation") return r.skip();
      out.emplace();
      return read_artifact(r, *out);
    });
  });
}

bool read_locations(Reader& r, SimpleResult& out) {
  out.locations.clear();
  return r.elements([&] {
    std::optional<ArtifactRef> artifact;
    if (!read_location(r, artifact)) return false;
    out.locations.push_back(artifact);
    return true;
  });
}

bool read_properties(Reader& r) {
  return r.members([&](std::string_view key, std::size_t) { return key != "tarnwick" && r.skip(); });
}

bool read_member(Reader& r, std::string_view key, SimpleResult& out, bool& has_rule_id) {
  std::string_view text;
  if (key == "ruleId") return has_rule_id = r.plain_string(out.rule_id);
  if (key == "ruleIndex") {
    std::int64_t index = 0;
    if (!r.integer(index)) return false;
    out.rule_index = index;
    return true;
  }
  if (key == "level") {
    if (!r.plain_string(text) || !is_level(text)) return false;
    out.level = text;
    return true;
  }
  if (key == "kind") {
    if (!r.plain_string(text)) return false;
    out.kind = text;
    return true;
  }
  if (key == "rule" || key == "suppressions") return false;
  if (key == "properties") return out.has_properties = read_properties(r);
  if (key == "locations") return read_locations(r, out);
  return r.skip();
}

}  // namespace

bool read_simple_result(std::string_view text, SimpleResult& out) {
  out.rule_id = {};
  out.rule_index.reset();
  out.level.reset();
  out.kind.reset();
  out.has_properties = false;
  out.locations.clear();  // kept: their room is reused from one result to the next
  out.kept.clear();
  Reader r(text);
  bool has_rule_id = false;
  const bool read = r.members([&](std::string_view key, std::size_t key_start) {
    if (!read_member(r, key, out, has_rule_id)) return false;
    if (key != "level") out.kept.push_back({key_start, r.pos()});
    return true;
  });
  return read && has_rule_id && r.at_end();
}

}  // namespace tarnwick::lint
