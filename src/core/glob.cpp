// Choosing a pattern's form and dispatching to its engine: the Plain form
// and the short path read the text (glob_text.h), the positions form is a
// compiled program (glob_program.h) run by the bit-parallel matchers
// (glob_bits.h), and a class cut by a brace boundary is matched one
// alternative at a time.
#include "core/glob.h"

#include "core/brace.h"
#include "core/glob_bits.h"
#include "core/glob_program.h"
#include "core/glob_text.h"

namespace tarnwick {

Pattern Pattern::compile(std::string_view text) {
  Pattern p;
  p.source_.assign(text);
  if (plain_shape(text, p.plain_)) {
    if (p.plain_.head_len > 0 && text[0] != '?' && text[0] != '\\') p.first_byte_ = static_cast<unsigned char>(text[0]);
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
  if (form_ == Form::Plain) return match_plain(source_, plain_, text);
  if (form_ == Form::PerAlternative) return matches_each_alternative(text);
  return match_program(program(), text);
}

// A class cut by a brace boundary: each alternative compiled and matched
// on its own, short ones on the stack.
bool Pattern::matches_each_alternative(std::string_view text) const {
  const BraceLayout layout = find_brace_groups(source_);
  if (!layout.expands()) return compile_brace_free(source_).matches(text);
  bool hit = false;
  for_each_alternative(source_, layout, [&](std::string_view alt) {
    hit = short_enough(alt, text) ? match_short(alt, text) : compile_brace_free(alt).matches(text);
    return !hit;
  });
  return hit;
}

bool glob_match(std::string_view pattern, std::string_view text) {
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
      return match_plain(p.source_, p.plain_, text);
    }
    case GlobEngine::Positions:
    case GlobEngine::Steps: {
      const std::optional<Pattern> p = Pattern::compile_positions(pattern);
      if (!p) return std::nullopt;
      if (engine == GlobEngine::Positions) return p->matches(text);
      if (p->shape_.groups == 0) return std::nullopt;
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
