// The directive parser, the canonical text form and a re-parse of it.
//
// Input: one directive text, any bytes. Every input must parse or fail
// without touching memory it does not own. For well-formed UTF-8 (the only
// text the Python layer hands over) the result must also agree, field by
// field or error by error, with the grammar as written in fuzz_common.h, and
// the canonical text must re-parse to the same fields unless the record is
// one of the kinds the canonical form cannot carry (see round_trips below).
// The lint verb of every action token must agree with the reference.
#include <string>
#include <string_view>

#include "core/directive.h"
#include "core/parse.h"
#include "core/quote.h"
#include "fuzz_common.h"
#include "lint/lint_action.h"

namespace {

using tarnwick::Directive;
using tarnwick::ParseError;

bool has_white_space_edge(std::string_view text) {
  return !text.empty() && fuzz::ref_trim(text).size() != text.size();
}

// Whether the canonical text of `d` can re-parse to the same fields. The
// form writes every field back without escaping, so it cannot carry:
//  - a kind holding `\`, `>` or `=` (stored unescaped, so it lost the
//    escapes it needed), a kind that is exactly `*` (written as `<*>`, which
//    means any kind) or a kind with White_Space at either end (written
//    bare, so the re-parse trims it);
//  - an action, or a NAME or PATH that a delimiter follows in the canonical
//    text, whose backslashes end by escaping the next byte: the parser
//    trimmed away the blank that backslash escaped, and in the canonical
//    text it escapes the delimiter instead;
//  - a kind-less record whose NAME (with its PATH) itself reads as a
//    `<KIND>` filter, which only a `<*>` in front of it could have kept.
bool round_trips(const Directive& d) {
  if (d.kind()) {
    const std::string_view k = *d.kind();
    if (k.find_first_of("\\>=") != std::string_view::npos || k == "*" || has_white_space_edge(k)) {
      return false;
    }
  }
  if (fuzz::ref_ends_escaping(d.action())) return false;
  if ((d.path() || d.note()) && fuzz::ref_ends_escaping(d.name().source())) return false;
  if (d.path() && d.note() && fuzz::ref_ends_escaping(d.path()->source())) return false;
  if (!d.kind()) {
    std::string body(d.name().source());
    if (d.path()) (body += "@") += d.path()->source();
    if (body.size() >= 2 && body[0] == '<' && fuzz::ref_find_unescaped(body, '>', 1) != std::string::npos) {
      return false;
    }
  }
  return true;
}

bool same_fields(const Directive& a, const Directive& b) {
  return a.action() == b.action() && a.kind() == b.kind() && a.name().source() == b.name().source() &&
         (a.path() != nullptr) == (b.path() != nullptr) &&
         (!a.path() || a.path()->source() == b.path()->source()) && a.note() == b.note();
}

void check_against_reference(std::string_view spec, const tarnwick::Result<Directive, ParseError>& parsed) {
  const fuzz::RefDirective ref = fuzz::ref_parse(spec);
  if (!parsed) {
    FUZZ_CHECK(!ref.error.empty());
    FUZZ_CHECK(parsed.error().message() == ref.error);
    return;
  }
  FUZZ_CHECK(ref.error.empty());
  const Directive& d = parsed.value();
  FUZZ_CHECK(d.action() == ref.action);
  FUZZ_CHECK(d.kind() == ref.kind);
  FUZZ_CHECK(d.name().source() == ref.name);
  FUZZ_CHECK((d.path() != nullptr) == ref.path.has_value());
  if (d.path()) FUZZ_CHECK(d.path()->source() == *ref.path);
  FUZZ_CHECK(d.note().has_value() == ref.note.has_value());
  if (d.note()) FUZZ_CHECK(*d.note() == *ref.note);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  const fuzz::HeapText input(fuzz::as_text(data, size));
  const std::string_view spec = input.view();
  const bool utf8 = fuzz::ref_valid_utf8(spec);

  auto parsed = tarnwick::parse_as(spec);
  if (!parsed) {
    // Every token is an action.
    FUZZ_CHECK(parsed.error().kind != ParseError::Kind::UnknownAction);
    if (utf8) check_against_reference(spec, parsed);
    return 0;
  }

  const Directive& d = parsed.value();
  // The parser's guarantees, whatever the bytes.
  FUZZ_CHECK(!d.action().empty());
  FUZZ_CHECK(!d.name().source().empty());
  FUZZ_CHECK(!d.kind() || !d.kind()->empty());
  if (!utf8) return 0;

  check_against_reference(spec, parsed);
  FUZZ_CHECK(fuzz::ref_valid_utf8(d.action()));
  FUZZ_CHECK(fuzz::ref_trim(d.action()).size() == d.action().size());
  FUZZ_CHECK(fuzz::ref_trim(d.name().source()).size() == d.name().source().size());

  // The lint vocabulary.
  const int verb = fuzz::ref_lint_verb(d.action());
  const auto lint_verb = tarnwick::lint::lint_action_from_token(d.action());
  FUZZ_CHECK(lint_verb.has_value() == (verb >= 0));
  if (lint_verb) FUZZ_CHECK(static_cast<int>(*lint_verb) == verb);

  // Canonical text and re-parse.
  const std::string canonical = tarnwick::canonical_text(d);
  std::string appended = "x";
  tarnwick::append_canonical(appended, d);
  FUZZ_CHECK(appended.substr(1) == canonical);
  FUZZ_CHECK(fuzz::ref_valid_utf8(canonical));
  if (round_trips(d)) {
    const fuzz::HeapText printed(canonical);
    auto again = tarnwick::parse_as(printed.view());
    FUZZ_CHECK(again);
    FUZZ_CHECK(same_fields(d, again.value()));
    FUZZ_CHECK(tarnwick::canonical_text(again.value()) == canonical);
  }
  return 0;
}
