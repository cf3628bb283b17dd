#include "core/parse.h"

#include "core/quote.h"
#include "core/scan.h"
#include "core/unicode.h"

namespace tarnwick {
namespace {

constexpr std::size_t npos = std::string_view::npos;

Err<ParseError> fail(ParseError::Kind kind) { return Err{ParseError{kind, {}}}; }

struct Delimiters {
  std::size_t colon = npos;
  std::size_t equals = npos;
};

// The first unescaped `:` and the first unescaped `=`, in one pass that
// stops as soon as both are known (or the `=` comes first and any `:` after
// it is all that is left to find).
Delimiters find_colon_and_equals(std::string_view spec) {
  Delimiters found;
  for (std::size_t i = 0; i < spec.size(); ++i) {
    const char c = spec[i];
    if (c == '\\') {
      ++i;
    } else if (c == ':' && found.colon == npos) {
      found.colon = i;
      if (found.equals != npos) break;
    } else if (c == '=' && found.equals == npos) {
      found.equals = i;
      if (found.colon != npos) break;
    }
  }
  return found;
}

}  // namespace

std::string ParseError::message() const {
  switch (kind) {
    case Kind::NoColon: return "expected `ACTION:\u2026` (no `:` found)";
    case Kind::EqualsBeforeColon: return "`=` appeared before the action `:`";
    case Kind::EmptyAction: return "empty action";
    case Kind::UnknownAction: return "unknown action " + quoted(token);
    case Kind::EmptyKind: return "empty `<>` kind filter";
    case Kind::EmptyName: return "empty name pattern";
  }
  return {};
}

std::string unescape(std::string_view text) {
  std::size_t i = text.find('\\');
  if (i == npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  out.append(text.substr(0, i));
  for (; i < text.size(); ++i) {
    // Escaped multi-byte characters come out whole: only the backslash is
    // dropped, and the bytes that follow it are copied as they stand.
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

Result<DirectiveParts, ParseError> split_directive(std::string_view spec) {
  using K = ParseError::Kind;
  const Delimiters found = find_colon_and_equals(spec);
  const std::size_t colon = found.colon;
  const std::size_t first_equals = found.equals;
  if (colon == npos) return fail(K::NoColon);
  if (first_equals != npos && first_equals < colon) return fail(K::EqualsBeforeColon);

  DirectiveParts parts;
  parts.action = unicode::trim(spec.substr(0, colon));
  if (parts.action.empty()) return fail(K::EmptyAction);

  // The scan for `=` went through the unescaped colon, so the first `=`
  // after the colon is also the first unescaped `=` of the text after it.
  std::string_view head = spec.substr(colon + 1);
  if (first_equals != npos) {
    parts.note = spec.substr(first_equals + 1);
    head = spec.substr(colon + 1, first_equals - colon - 1);
  }
  std::string_view body = unicode::trim(head);
  if (body.empty()) return fail(K::EmptyName);

  if (body.size() >= 2 && body[0] == '<') {
    if (const std::size_t gt = find_unescaped(body, '>', 1); gt != npos) {
      const std::string_view kind = unicode::trim(body.substr(1, gt - 1));
      if (kind.empty()) return fail(K::EmptyKind);
      if (kind != "*") parts.kind = kind;
      body = unicode::trim_start(body.substr(gt + 1));
    }
  }

  if (const std::size_t at = find_unescaped(body, '@'); at != npos) {
    parts.name = unicode::trim(body.substr(0, at));
    parts.path = unicode::trim(body.substr(at + 1));
  } else {
    parts.name = body;
  }
  if (parts.name.empty()) return fail(K::EmptyName);
  return parts;
}

Directive build_directive(const DirectiveParts& p) {
  const std::optional<std::string> kind = p.kind ? std::optional<std::string>(unescape(*p.kind)) : std::nullopt;
  return Directive(p.action, kind ? std::optional<std::string_view>(*kind) : std::nullopt, Pattern::compile(p.name),
                   p.path ? std::optional<Pattern>(Pattern::compile(*p.path)) : std::nullopt, p.note);
}

Result<Directive, ParseError> parse_as(std::string_view spec) {
  auto parts = split_directive(spec);
  if (!parts) return Err{parts.error()};
  return build_directive(parts.value());
}

}  // namespace tarnwick
