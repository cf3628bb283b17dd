// The position program: compiling a glob by cutting it into brace-free
// pieces, numbering the positions of their tokens, splitting the bytes into
// the classes the tokens tell apart and writing one mask per class, and
// reading the compiled parts back by the same layout (see glob_program.h).
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "core/brace.h"
#include "core/glob.h"
#include "core/glob_program.h"
#include "core/glob_tokens.h"

namespace tarnwick {
namespace {

struct Piece {
  std::string_view text;
  std::size_t source_start;  // where its bytes begin in the pattern text
};

// The pieces in position order: the text before the first group, the
// segments of that group, the text after it, and so on. Groups of one
// segment are plain text and join the text around them.
struct Pieces {
  std::vector<std::string> between;  // owns the text between groups
  std::vector<Piece> list;
  struct Group {
    std::size_t first_piece;
    std::size_t segments;
  };
  std::vector<Group> groups;
};

Pieces split_pieces(std::string_view text, const BraceLayout& layout) {
  Pieces out;
  if (!layout.expands()) {
    out.list.push_back({text, 0});
    return out;
  }
  const bool all_split = std::none_of(layout.groups.begin(), layout.groups.end(),
                                      [](const BraceGroup& g) { return g.segment_count == 1; });
  if (all_split) {
    // Every piece is a view into the text: nothing to copy.
    out.list.reserve(layout.segments.size() + layout.groups.size() + 1);
    out.groups.reserve(layout.groups.size());
    std::size_t pos = 0;
    for (const BraceGroup& group : layout.groups) {
      out.list.push_back({text.substr(pos, group.open - pos), pos});
      out.groups.push_back({out.list.size(), group.segment_count});
      for (std::size_t s = 0; s < group.segment_count; ++s) {
        const std::string_view segment = layout.segments[group.first_segment + s];
        out.list.push_back({segment, static_cast<std::size_t>(segment.data() - text.data())});
      }
      pos = group.close + 1;
    }
    out.list.push_back({text.substr(pos), pos});
    return out;
  }
  std::vector<std::size_t> starts{0};
  std::vector<const BraceGroup*> groups;
  std::string current;
  std::size_t pos = 0;
  for (const BraceGroup& group : layout.groups) {
    current.append(text.substr(pos, group.open - pos));
    pos = group.close + 1;
    if (group.segment_count == 1) {
      current.append(layout.segments[group.first_segment]);
      continue;
    }
    out.between.push_back(std::move(current));
    current.clear();
    groups.push_back(&group);
    starts.push_back(pos);
  }
  current.append(text.substr(pos));
  out.between.push_back(std::move(current));
  for (std::size_t g = 0;; ++g) {
    out.list.push_back({out.between[g], starts[g]});
    if (g == groups.size()) break;
    out.groups.push_back({out.list.size(), groups[g]->segment_count});
    for (std::size_t s = 0; s < groups[g]->segment_count; ++s) {
      const std::string_view segment = layout.segments[groups[g]->first_segment + s];
      out.list.push_back({segment, static_cast<std::size_t>(segment.data() - text.data())});
    }
  }
  return out;
}

// The coarsest split of the 256 byte values that every token's byte set
// respects, refined one set at a time.
class Partition {
 public:
  Partition() { size_[0] = 256; }
  void split_byte(unsigned char b) {
    const unsigned c = cls_[b];
    if (size_[c] == 1) return;
    --size_[c];
    cls_[b] = static_cast<unsigned char>(count_);
    size_[count_++] = 1;
    lo_ = std::min<unsigned>(lo_, b);
    hi_ = std::max<unsigned>(hi_, b + 1u);
  }
  // A set and its complement split the same way: walk the smaller one.
  void split(const ByteSet& set) {
    if (count_ == 256) return;
    sets_ = true;
    ByteSet walk = set;
    if (popcount(set) > 128) {
      for (auto& word : walk.bits) word = ~word;
    }
    std::uint16_t inside[256];
    std::fill(inside, inside + count_, std::uint16_t{0});
    for_each_member(walk, [&](unsigned b) { ++inside[cls_[b]]; });
    unsigned char to[256];
    const unsigned before = count_;
    for (unsigned c = 0; c < before; ++c) {
      to[c] = static_cast<unsigned char>(c);
      if (inside[c] == 0 || inside[c] == size_[c]) continue;
      size_[c] = static_cast<std::uint16_t>(size_[c] - inside[c]);
      size_[count_] = inside[c];
      to[c] = static_cast<unsigned char>(count_++);
    }
    for_each_member(walk, [&](unsigned b) { cls_[b] = to[cls_[b]]; });
  }
  unsigned count() const { return count_; }
  const unsigned char* classes() const { return cls_; }
  // The largest class, and the bytes from the first to the last outside it:
  // the only ones the compiled pattern maps one by one. Without classes the
  // largest is the bytes no literal names, class 0.
  unsigned background() const {
    return sets_ ? static_cast<unsigned>(std::max_element(size_, size_ + count_) - size_) : 0;
  }
  std::pair<unsigned, unsigned> foreground() const {
    if (!sets_) return {lo_ < hi_ ? lo_ : 0, lo_ < hi_ ? hi_ - lo_ : 0};
    const unsigned bg = background();
    unsigned lo = 0, hi = 256;
    while (lo < 256 && cls_[lo] == bg) ++lo;
    while (hi > lo && cls_[hi - 1] == bg) --hi;
    return {lo, hi - lo};
  }

 private:
  static unsigned popcount(const ByteSet& set) {
    unsigned n = 0;
    for (const std::uint64_t word : set.bits) n += static_cast<unsigned>(std::popcount(word));
    return n;
  }
  template <class Visit>
  static void for_each_member(const ByteSet& set, Visit visit) {
    for (unsigned w = 0; w < 4; ++w) {
      for (std::uint64_t bits = set.bits[w]; bits; bits &= bits - 1) {
        visit(w * 64 + static_cast<unsigned>(std::countr_zero(bits)));
      }
    }
  }
  unsigned char cls_[256] = {};
  std::uint16_t size_[256];  // written as each class is made: only [0, count_) is read
  unsigned count_ = 1;
  unsigned lo_ = 256, hi_ = 0;  // the bytes literals split off, without sets
  bool sets_ = false;
};

}  // namespace

class PatternBuilder {
 public:
  // Fills `p` from `pieces`; false when a class is cut by a brace boundary.
  static bool build(Pattern& p, const Pieces& pieces, std::string_view source) {
    PatternBuilder b(pieces, source);
    if (!b.count_and_split()) return false;
    b.write(p);
    return true;
  }

  static Pattern brace_free(std::string_view text) {
    Pattern p;
    p.source_.assign(text);
    Pieces pieces;
    pieces.list.push_back({text, 0});
    build(p, pieces, text);
    return p;
  }

 private:
  PatternBuilder(const Pieces& pieces, std::string_view source) : pieces_(pieces), last_close_(source.rfind(']')) {}

  // A `[` that its own piece leaves open may be closed by a later piece of
  // some alternative when a `]` follows it anywhere in the pattern text.
  bool open_ended(std::size_t i) const {
    return i + 1 < pieces_.list.size() && last_close_ != std::string_view::npos &&
           last_close_ >= pieces_.list[i].source_start;
  }

  template <class Visit>
  bool tokens_of(std::size_t i, Visit&& visit) {
    return for_each_token(pieces_.list[i].text, open_ended(i), visit);
  }

  bool count_and_split() {
    ByteSet last_set;
    bool have_last = false;
    for (std::size_t i = 0; i < pieces_.list.size(); ++i) {
      const bool whole = tokens_of(i, [&](const Token& tok) {
        ++positions_;
        if (tok.kind == TokKind::Lit) partition_.split_byte(tok.byte);
        has_class_ = has_class_ || tok.kind == TokKind::Class;
        if (tok.kind == TokKind::Class && !(have_last && tok.set == last_set)) {
          partition_.split(tok.set);
          last_set = tok.set;
          have_last = true;
        }
      });
      if (!whole) return false;
      ++positions_;  // the position after the piece
    }
    return true;
  }

  void write(Pattern& p) {
    const unsigned classes = partition_.count();
    const bool linked = !pieces_.groups.empty();
    const auto group_count = static_cast<std::uint32_t>(pieces_.groups.size());
    const auto [byte_lo, byte_span] = partition_.foreground();
    const ProgramLayout at(positions_, group_count, classes, byte_span);
    const std::size_t words = at.words;
    p.data_.assign(at.total, 0);
    std::uint64_t* data = p.data_.data();
    std::memcpy(data, partition_.classes() + byte_lo, byte_span);
    p.form_ = Pattern::Form::Positions;
    write_shape(p.shape_, ProgramShape{positions_,
                group_count,
                static_cast<std::uint16_t>(classes),
                static_cast<std::uint16_t>(byte_span),
                static_cast<std::uint8_t>(byte_lo),
                static_cast<std::uint8_t>(partition_.background())});
    std::uint64_t* table = data + at.table;
    std::uint64_t* star = data + at.star;
    std::uint64_t* literal = data + at.literal;
    auto* literal_byte = reinterpret_cast<unsigned char*>(data + at.literal_bytes);
    std::uint64_t* entries = data + at.entry;
    std::uint64_t* exits = data + at.exit;
    auto* links = reinterpret_cast<GroupLinks*>(data + at.links);
    for (std::uint32_t g = 0; g < group_count; ++g) new (links + g) GroupLinks{};
    unsigned char representative[256];
    if (has_class_) {
      for (unsigned b = 0; b < 256; ++b) representative[partition_.classes()[b]] = static_cast<unsigned char>(b);
    }

    std::uint32_t pos = 0;
    std::size_t group = 0;  // the group whose segments come next
    for (std::size_t i = 0; i < pieces_.list.size(); ++i) {
      const std::uint32_t entry = pos;
      bool starts_with_star = false;
      tokens_of(i, [&](const Token& tok) {
        if (pos == entry && tok.kind == TokKind::Star) starts_with_star = true;
        switch (tok.kind) {
          case TokKind::Star: set_bit(star, pos); break;
          case TokKind::Lit:
            set_bit(table + partition_.classes()[tok.byte] * words, pos);
            set_bit(literal, pos);
            literal_byte[pos] = tok.byte;
            if (pos == 0 && !linked) p.first_byte_ = tok.byte;
            break;
          case TokKind::Any:
            for (unsigned c = 0; c < classes; ++c) set_bit(table + c * words, pos);
            break;
          case TokKind::Class:
            for (unsigned c = 0; c < classes; ++c) {
              if (tok.set.contains(representative[c])) set_bit(table + c * words, pos);
            }
            break;
        }
        ++pos;
      });
      const std::uint32_t tail = pos++;
      if (linked) link(links, group, i, entry, tail, starts_with_star, entries, exits);
    }
  }

  // Records piece i's part in the group links: the text between groups
  // joins the group before it and forks into the one after it; a segment
  // enters and exits its group.
  void link(GroupLinks* links, std::size_t& group, std::size_t i, std::uint32_t entry, std::uint32_t tail,
            bool starts_with_star, std::uint64_t* entries, std::uint64_t* exits) const {
    const std::size_t groups = pieces_.groups.size();
    if (group == groups || i < pieces_.groups[group].first_piece) {
      if (group > 0) {
        links[group - 1].join = entry;
        links[group - 1].join_star = starts_with_star;
      }
      if (group < groups) links[group].fork = tail;
      return;
    }
    const Pieces::Group& g = pieces_.groups[group];
    set_bit(entries, entry);
    if (starts_with_star) set_bit(entries, entry + 1);
    set_bit(exits, tail);
    if (i == g.first_piece) links[group].first = entry;
    if (i + 1 == g.first_piece + g.segments) {
      links[group].last = tail;
      ++group;
    }
  }

  const Pieces& pieces_;
  std::size_t last_close_;
  Partition partition_;
  std::uint32_t positions_ = 0;
  bool has_class_ = false;
};

std::optional<Pattern> Pattern::compile_positions(std::string_view text) {
  Pattern p;
  p.source_.assign(text);
  const BraceLayout layout = find_brace_groups(text);
  if (layout.expands()) p.alternatives_ = static_cast<std::uint32_t>(layout.alternatives);
  if (!PatternBuilder::build(p, split_pieces(text, layout), text)) return std::nullopt;
  return p;
}

Pattern Pattern::compile_brace_free(std::string_view text) { return PatternBuilder::brace_free(text); }

Program Pattern::program() const {
  const ProgramShape sh = read_shape<ProgramShape>(shape_);
  const ProgramLayout at(sh.positions, sh.groups, sh.classes, sh.byte_span);
  const std::uint64_t* data = data_.data();
  const bool linked = sh.groups > 0;
  return {reinterpret_cast<const unsigned char*>(data),
          sh.byte_lo,
          sh.byte_span,
          sh.background,
          data + at.table,
          data + at.star,
          data + at.literal,
          reinterpret_cast<const unsigned char*>(data + at.literal_bytes),
          linked ? data + at.entry : nullptr,
          linked ? data + at.exit : nullptr,
          {linked ? reinterpret_cast<const GroupLinks*>(data + at.links) : nullptr, sh.groups},
          sh.positions,
          static_cast<std::uint32_t>(at.words)};
}

}  // namespace tarnwick
