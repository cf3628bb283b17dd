// Choosing a pattern's form and dispatching to its engine: the Plain form
// and the short path read the text (glob_text.h), the positions form is a
// compiled program (glob_program.h) run by the bit-parallel matchers
// (glob_bits.h), and a class cut by a brace boundary is matched one
// alternative at a time.
#include "core/glob.h"

#include <algorithm>

#include "core/brace.h"
#include "core/glob_bits.h"
#include "core/glob_cut.h"
#include "core/glob_program.h"
#include "core/glob_text.h"

namespace tarnwick {

Pattern Pattern::compile(std::string_view text) {
  Pattern p;
  p.source_.assign(text);
  PlainShape plain;
  if (plain_shape(text, plain)) {
    write_shape(p.shape_, plain);
    if (plain.head_len > 0 && text[0] != '?' && text[0] != '\\') p.first_byte_ = static_cast<unsigned char>(text[0]);
    return p;
  }
  if (std::optional<Pattern> positions = compile_positions(text)) return std::move(*positions);
  const BraceLayout layout = find_brace_groups(text);
  if (layout.expands()) p.alternatives_ = static_cast<std::uint32_t>(layout.alternatives);
  p.form_ = Form::PerAlternative;
  return p;
}

bool Pattern::matches(std::string_view text) const {
  if (first_byte_ >= 0 && !text.empty() && static_cast<unsigned char>(text[0]) != first_byte_) return false;
  if (form_ == Form::Plain) return match_plain(source_, read_shape<PlainShape>(shape_), text);
  if (form_ == Form::PerAlternative) return matches_each_alternative(text);
  return match_program(program(), text);
}

namespace {

// Only a group with a `[`, `]` or `\` in a segment can change how the text
// around it reads; a `{` in a segment would read as a brace once written
// out, so then nothing is kept as a group.
bool shapes_tokens(std::string_view segment) { return segment.find_first_of("[]\\") != std::string_view::npos; }

}  // namespace

// Each alternative of `pattern` compiled and matched on its own, short ones
// on the stack.
bool Pattern::matches_one_at_a_time(std::string_view pattern, std::string_view text) {
  const BraceLayout layout = find_brace_groups(pattern);
  if (!layout.expands()) return compile_brace_free(pattern).matches(text);
  bool hit = false;
  for_each_alternative(pattern, layout, [&](std::string_view alt) {
    hit = short_enough(alt, text) ? match_short(alt, text) : compile_brace_free(alt).matches(text);
    return !hit;
  });
  return hit;
}

// A class cut by a brace boundary. The groups that shape tokens are
// expanded, the others kept: each choice of the former is one pattern that
// usually compiles to positions, so the `{a,b}` groups around a cut class
// cost one program, not one per alternative. Where a class still spans a
// kept group, that pattern is matched by matches_collapsed.
bool Pattern::matches_each_alternative(std::string_view text) const {
  const BraceLayout layout = find_brace_groups(source_);
  if (!layout.expands()) return matches_one_at_a_time(source_, text);
  BraceLayout odometer;  // the expanded groups count their segments, the kept ones count 1
  odometer.groups = layout.groups;
  bool keeps_some = false;
  for (BraceGroup& group : odometer.groups) {
    const auto first = layout.segments.begin() + static_cast<std::ptrdiff_t>(group.first_segment);
    const auto last = first + static_cast<std::ptrdiff_t>(group.segment_count);
    if (std::any_of(first, last, [](std::string_view s) { return s.find('{') != std::string_view::npos; })) {
      return matches_one_at_a_time(source_, text);
    }
    if (group.segment_count > 1 && std::none_of(first, last, shapes_tokens)) {
      group.segment_count = 1;
      keeps_some = true;
    }
  }
  if (!keeps_some) return matches_one_at_a_time(source_, text);
  const std::string_view src = source_;
  std::vector<std::size_t> choice(layout.groups.size(), 0);
  std::string partial;
  do {
    partial.clear();
    std::size_t pos = 0;
    for (std::size_t g = 0; g < layout.groups.size(); ++g) {
      const BraceGroup& group = layout.groups[g];
      partial.append(src.substr(pos, group.open - pos));
      if (odometer.groups[g].segment_count < group.segment_count) {
        partial.append(src.substr(group.open, group.close + 1 - group.open));
      } else {
        partial.append(layout.segments[group.first_segment + choice[g]]);
      }
      pos = group.close + 1;
    }
    partial.append(src.substr(pos));
    if (matches_collapsed(partial, text)) return true;
  } while (next_alternative(odometer, choice.data()));
  return false;
}

// A pattern whose groups are all kept (plain choices of bytes): its
// classes cut by them are read once per distinct reading (glob_cut.h), left
// to right, and the readings that close at one `]` become one group of
// classes in their place. Where readings close at several `]`, each gives
// one pattern, collapsed on from there: those patterns are a stack, one
// level per such class (at most one per group, so at most 10), each with
// its readings (at most 1024), so memory stays O(m).
bool Pattern::matches_collapsed(std::string_view pattern, std::string_view text) {
  struct Level {
    std::string pattern;
    CutClass cut;
    std::size_t next = 0;
  };
  std::vector<Level> stack;
  std::string current(pattern), collapsed;
  std::size_t from = 0;  // the cut classes before it are collapsed
  for (;;) {
    std::optional<Pattern> positions;
    std::optional<CutClass> cut;
    while (!(positions = compile_positions(current)) && (cut = CutClass::find(current, from)) && cut->closes() == 1) {
      collapsed.clear();
      from = cut->write(current, 0, collapsed);
      current.swap(collapsed);
    }
    if (positions) {
      if (positions->matches(text)) return true;
    } else if (cut) {
      stack.push_back({std::move(current), std::move(*cut)});
    } else if (matches_one_at_a_time(current, text)) {
      return true;
    }
    while (!stack.empty() && stack.back().next == stack.back().cut.closes()) stack.pop_back();
    if (stack.empty()) return false;
    Level& top = stack.back();
    current.clear();
    from = top.cut.write(top.pattern, top.next++, current);
  }
}

bool glob_match(std::string_view pattern, std::string_view text) {
  // A plain pattern is matched from its text whatever its length (no
  // tokens to build); others short enough on the stack.
  PlainShape plain;
  if (plain_shape(pattern, plain)) return match_plain(pattern, plain, text);
  if (short_enough(pattern, text)) {
    if (pattern.find('{') == std::string_view::npos) return match_short(pattern, text);
    if (const std::optional<bool> hit = match_short_braces(pattern, text)) return *hit;
  }
  return Pattern::compile(pattern).matches(text);
}

std::optional<bool> glob_match_with(GlobEngine engine, std::string_view pattern, std::string_view text) {
  switch (engine) {
    case GlobEngine::Short:
      if (pattern.size() > kShortPattern) return std::nullopt;
      return match_short_braces(pattern, text);
    case GlobEngine::Plain: {
      const Pattern p = Pattern::compile(pattern);
      if (p.form_ != Pattern::Form::Plain) return std::nullopt;
      return match_plain(p.source_, read_shape<PlainShape>(p.shape_), text);
    }
    case GlobEngine::Positions:
    case GlobEngine::Steps: {
      const std::optional<Pattern> p = Pattern::compile_positions(pattern);
      if (!p) return std::nullopt;
      if (engine == GlobEngine::Positions) return p->matches(text);
      if (read_shape<ProgramShape>(p->shape_).groups == 0) return std::nullopt;
      return step_positions(p->program(), text);
    }
    case GlobEngine::Alternatives: {
      Pattern p;
      p.source_.assign(pattern);
      return p.matches_each_alternative(text);
    }
  }
  return std::nullopt;
}

}  // namespace tarnwick
