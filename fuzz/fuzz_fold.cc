// The ladder and the lint fold over parsed directives.
//
// Input: sections separated by 0xFF (which UTF-8 never holds), each a list
// of LF-separated lines:
//   0 directives (every line that parses is used, in order)
//   1 ladder levels
//   2 target names
//   3 target scopes
//   4 the qualifier (first line; no section means no qualifier)
//   5 steps, "VERB=COUNT" lines (COUNT read as a signed 32-bit decimal)
//   6 dropping verbs
//   7 `current` (first line; no section means the first level, or "")
// The notes flag is the parity of the input size. Checks:
//  - position and step agree with the definitions; step never leaves the
//    ladder; a level that is not on it comes back unchanged;
//  - a fold's level is on the ladder or equals `current`, and equals
//    `current` whenever `current` is not on the ladder;
//  - both folds agree with a reference (sum every matching step in 64 bits,
//    clamp to 32 bits, move once), and reversing the directives changes
//    only the order of the notes;
//  - the lint settings list every `set` directive in order.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/ladder.h"
#include "core/parse.h"
#include "fuzz_common.h"
#include "lint/lint_fold.h"

namespace {

using tarnwick::Directive;
using tarnwick::Ladder;
using tarnwick::MatchTarget;

std::optional<std::size_t> ref_position(const std::vector<std::string>& levels, std::string_view level) {
  for (std::size_t i = 0; i < levels.size(); ++i) {
    if (levels[i] == level) return i;
  }
  return std::nullopt;
}

std::size_t ref_move(std::size_t rung, std::size_t count, std::int64_t delta) {
  const std::int64_t to = std::clamp<std::int64_t>(static_cast<std::int64_t>(rung) + delta, 0,
                                                   static_cast<std::int64_t>(count) - 1);
  return static_cast<std::size_t>(to);
}

std::int64_t clamp32(std::int64_t v) {
  return std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max());
}

// Matching from its three rules, with a glob per name and scope.
bool ref_matches(const Directive& d, const MatchTarget& target) {
  if (d.kind() && (!target.qualifier || *target.qualifier != *d.kind())) return false;
  bool name = false;
  for (std::string_view n : target.names) name = name || d.name().matches(n);
  if (!name) return false;
  if (!d.path()) return true;
  bool scope = false;
  for (std::string_view s : target.scopes) scope = scope || d.path()->matches(s);
  return scope;
}

struct Input {
  std::vector<Directive> directives;
  std::vector<std::string> levels;
  std::vector<std::string> names;
  std::vector<std::string> scopes;
  std::optional<std::string> qualifier;
  std::vector<std::pair<std::string, std::int32_t>> steps;
  std::vector<std::string> drop;
  std::string current;
  bool notes = true;
};

Input read_input(std::string_view data) {
  Input in;
  const auto sections = fuzz::split_sections(data);
  auto lines_of = [&](std::size_t i) {
    std::vector<std::string> out;
    if (i < sections.size()) {
      for (std::string_view line : fuzz::split_lines(sections[i])) out.emplace_back(line);
    }
    return out;
  };
  for (const std::string& line : lines_of(0)) {
    auto parsed = tarnwick::parse_as(line);
    if (parsed) in.directives.push_back(std::move(parsed).value());
  }
  in.levels = lines_of(1);
  in.names = lines_of(2);
  in.scopes = lines_of(3);
  if (sections.size() > 4) {
    const auto q = lines_of(4);
    in.qualifier = q.empty() ? std::string() : q[0];
  }
  for (const std::string& line : lines_of(5)) {
    const std::size_t eq = line.rfind('=');
    if (eq == std::string::npos) continue;
    std::int32_t count = 0;
    const char* first = line.data() + eq + 1;
    const char* last = line.data() + line.size();
    if (std::from_chars(first, last, count).ec != std::errc()) continue;
    in.steps.emplace_back(line.substr(0, eq), count);
  }
  in.drop = lines_of(6);
  if (sections.size() > 7) {
    const auto c = lines_of(7);
    in.current = c.empty() ? std::string() : c[0];
  } else if (!in.levels.empty()) {
    in.current = in.levels[0];
  }
  in.notes = data.size() % 2 == 0;
  return in;
}

// The same directives in reverse order (records are not copied).
std::vector<const Directive*> reversed_views(const std::vector<Directive>& directives) {
  std::vector<const Directive*> out;
  for (auto it = directives.rbegin(); it != directives.rend(); ++it) out.push_back(&*it);
  return out;
}

const Directive& deref(const Directive* d) { return *d; }

void check_ladder(const Input& in, const MatchTarget& target) {
  const Ladder ladder(in.levels);
  FUZZ_CHECK(ladder.levels() == in.levels);

  std::vector<std::string_view> probes(in.levels.begin(), in.levels.end());
  probes.push_back(in.current);
  for (const std::string& n : in.names) probes.push_back(n);
  const std::int32_t deltas[] = {0, 1, -1, 2, -2, 7, std::numeric_limits<std::int32_t>::max(),
                                 std::numeric_limits<std::int32_t>::min()};
  for (std::string_view probe : probes) {
    const auto rung = ladder.position(probe);
    FUZZ_CHECK(rung == ref_position(in.levels, probe));
    for (std::int32_t delta : deltas) {
      const std::string_view stepped = ladder.step(probe, delta);
      if (!rung) {
        FUZZ_CHECK(stepped == probe);
      } else {
        FUZZ_CHECK(stepped == in.levels[ref_move(*rung, in.levels.size(), delta)]);
      }
    }
  }

  // The caller's tables.
  std::vector<tarnwick::StepEntry> entries;
  for (const auto& [verb, step] : in.steps) entries.push_back({verb, step});
  const tarnwick::StepTable steps(entries);
  std::vector<std::string_view> drop_views(in.drop.begin(), in.drop.end());
  const tarnwick::VerbSet drop(drop_views);
  auto step_of = [&](std::string_view verb) {
    std::int32_t step = 0;
    for (const auto& [v, s] : in.steps) {
      if (v == verb) step = s;  // the later value wins
    }
    return step;
  };
  auto drops = [&](std::string_view verb) {
    return std::find(in.drop.begin(), in.drop.end(), verb) != in.drop.end();
  };

  std::int64_t sum = 0;
  bool dropped = false;
  std::vector<std::string_view> notes;
  for (const Directive& d : in.directives) {
    FUZZ_CHECK(steps.step_of(d.action()) == step_of(d.action()));
    FUZZ_CHECK(drop.contains(d.action()) == drops(d.action()));
    if (!ref_matches(d, target)) continue;
    if (in.notes && d.note()) notes.push_back(*d.note());
    sum += step_of(d.action());
    dropped = dropped || drops(d.action());
  }
  const auto rung = ref_position(in.levels, in.current);
  const std::string_view want =
      rung ? std::string_view(in.levels[ref_move(*rung, in.levels.size(), clamp32(sum))])
           : std::string_view(in.current);

  auto identity = [](const Directive& d) -> const Directive& { return d; };
  const auto folded = ladder.fold(in.current, in.directives, target, steps, drop, in.notes, identity);
  const bool on_ladder = std::find(in.levels.begin(), in.levels.end(), folded.level) != in.levels.end();
  FUZZ_CHECK(on_ladder || folded.level == in.current);
  if (!rung) FUZZ_CHECK(folded.level == in.current);
  FUZZ_CHECK(folded.level == want);
  FUZZ_CHECK(folded.dropped == dropped);
  FUZZ_CHECK(folded.notes == notes);

  const auto reversed = reversed_views(in.directives);
  const auto back = ladder.fold(in.current, reversed, target, steps, drop, in.notes, deref);
  FUZZ_CHECK(back.level == folded.level);
  FUZZ_CHECK(back.dropped == folded.dropped);
  FUZZ_CHECK(std::equal(back.notes.begin(), back.notes.end(), folded.notes.rbegin(), folded.notes.rend()));
}

void check_lint(const Input& in, const MatchTarget& target) {
  namespace lint = tarnwick::lint;
  auto identity = [](const Directive& d) -> const Directive& { return d; };
  auto verb_of = [](const Directive& d) { return lint::lint_action_from_token(d.action()); };

  for (int s = 0; s < 3; ++s) {
    const auto current = static_cast<lint::Severity>(s);
    std::int64_t net = 0;
    bool dropped = false;
    std::vector<std::string_view> notes;
    for (const Directive& d : in.directives) {
      const auto verb = verb_of(d);
      if (!verb || *verb == lint::LintAction::Set || !ref_matches(d, target)) continue;
      if (d.note()) notes.push_back(*d.note());
      if (*verb == lint::LintAction::Suppress) dropped = true;
      if (*verb == lint::LintAction::Deescalate) ++net;
      if (*verb == lint::LintAction::Escalate) --net;
    }
    const lint::Folded folded = lint::fold(current, target, in.directives, identity, verb_of);
    const auto rung = static_cast<std::size_t>(folded.severity);
    FUZZ_CHECK(rung < lint::kSeverityCount);
    FUZZ_CHECK(rung == ref_move(static_cast<std::size_t>(s), 3, net));
    FUZZ_CHECK(folded.dropped == dropped);
    FUZZ_CHECK(folded.notes == notes);

    const auto reversed = reversed_views(in.directives);
    const lint::Folded back =
        lint::fold(current, target, reversed, deref, [&](const Directive* d) { return verb_of(*d); });
    FUZZ_CHECK(back.severity == folded.severity && back.dropped == folded.dropped);
    FUZZ_CHECK(std::equal(back.notes.begin(), back.notes.end(), folded.notes.rbegin(), folded.notes.rend()));
  }

  // The severity names read back, in any ASCII case, and nothing else does.
  const auto from_current = lint::severity_from_text(in.current);
  std::string lowered = in.current;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const bool known = lowered == "error" || lowered == "warning" || lowered == "info";
  FUZZ_CHECK(from_current.ok() == known);
  if (known) FUZZ_CHECK(lint::severity_text(from_current.value()) == lowered);

  const auto settings = lint::settings(in.directives, identity, verb_of);
  std::size_t k = 0;
  for (const Directive& d : in.directives) {
    const auto verb = verb_of(d);
    if (!verb || *verb != lint::LintAction::Set) continue;
    FUZZ_CHECK(k < settings.size());
    FUZZ_CHECK(settings[k].first == d.name().source());
    FUZZ_CHECK(settings[k].second == (d.note() ? std::string_view(*d.note()) : std::string_view()));
    ++k;
  }
  FUZZ_CHECK(k == settings.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  const Input in = read_input(fuzz::as_text(data, size));
  // Names and scopes in exact-size blocks: matching must stay inside them.
  std::vector<fuzz::HeapText> name_blocks, scope_blocks;
  std::vector<std::string_view> names, scopes;
  for (const std::string& n : in.names) name_blocks.emplace_back(n);
  for (const std::string& s : in.scopes) scope_blocks.emplace_back(s);
  for (const auto& b : name_blocks) names.push_back(b.view());
  for (const auto& b : scope_blocks) scopes.push_back(b.view());
  MatchTarget target{names, std::nullopt, scopes};
  if (in.qualifier) target.qualifier = *in.qualifier;

  check_ladder(in, target);
  check_lint(in, target);
  return 0;
}
