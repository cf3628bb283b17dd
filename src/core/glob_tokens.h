// Reading one brace-free piece of a glob as tokens: `*`, `?`, literal bytes,
// escapes and `[...]` classes. Used by the compiler and by glob_match's
// stack-only path for short patterns, so that both read classes one way.
#pragma once

#include <compare>
#include <cstdint>
#include <string_view>

#include "core/scan.h"

namespace tarnwick {

// The set of bytes a class accepts, negation folded in.
struct ByteSet {
  std::uint64_t bits[4] = {0, 0, 0, 0};
  void add(unsigned char b) { bits[b >> 6] |= std::uint64_t{1} << (b & 63); }
  // Every byte from lo to hi inclusive; nothing when lo > hi.
  void add_range(unsigned char lo, unsigned char hi) {
    for (unsigned word = lo >> 6; lo <= hi && word <= static_cast<unsigned>(hi >> 6); ++word) {
      const unsigned first = word == static_cast<unsigned>(lo >> 6) ? lo & 63 : 0;
      const unsigned last = word == static_cast<unsigned>(hi >> 6) ? hi & 63 : 63;
      const std::uint64_t upto_last = last == 63 ? ~std::uint64_t{0} : (std::uint64_t{1} << (last + 1)) - 1;
      bits[word] |= upto_last & ~((std::uint64_t{1} << first) - 1);
    }
  }
  bool contains(unsigned char b) const { return (bits[b >> 6] >> (b & 63)) & 1; }
  auto operator<=>(const ByteSet&) const = default;
  bool operator==(const ByteSet&) const = default;
};

enum class TokKind : std::uint8_t { Star, Any, Lit, Class };

struct Token {
  TokKind kind;
  unsigned char byte = 0;  // Lit: the byte
  ByteSet set;             // Class: the bytes it accepts
};

namespace tokens {

// Finds the `]` that closes a class, scanning forward from the byte after
// its first member and skipping escaped bytes. A scan that reaches the end
// is remembered: a later scan that starts on the same escape pairing (the
// byte before it is never an escaping backslash, since it ends a `[`, a `!`
// or a whole first member) would also reach the end, so it stops at once
// and a text full of unclosed `[` is read in linear time.
class CloseScan {
 public:
  std::size_t find(std::string_view s, std::size_t from) {
    constexpr std::size_t npos = std::string_view::npos;
    if (failed_from_ != npos && from >= failed_from_ && even_backslashes_before(s, from)) return npos;
    const std::size_t close = find_unescaped(s, ']', from);
    if (close == npos) failed_from_ = from;
    return close;
  }

 private:
  // Whether an even number of backslashes, counted back to the failed
  // scan's start, come right before `at`: then the failed scan read `at`
  // as the start of a byte or of an escape, just as a new scan would.
  bool even_backslashes_before(std::string_view s, std::size_t at) const {
    std::size_t k = at;
    while (k > failed_from_ && s[k - 1] == '\\') --k;
    return (at - k) % 2 == 0;
  }
  std::size_t failed_from_ = std::string_view::npos;
};

// Turns the members of a class into a byte-set as they are read, left to
// right: a literal, a dash marker and a literal form a range; any other
// literal is itself; a dash marker outside such a triple is `-`.
class ClassBuilder {
 public:
  void literal(unsigned char b) {
    if (pending_ == Pending::LiteralDash) {
      set_.add_range(low_, b);
      pending_ = Pending::None;
      return;
    }
    flush();
    low_ = b;
    pending_ = Pending::Literal;
  }
  void dash() {
    if (pending_ == Pending::Literal) {
      pending_ = Pending::LiteralDash;
      return;
    }
    flush();
    set_.add('-');
  }
  ByteSet finish(bool negated) {
    flush();
    if (negated) {
      for (auto& word : set_.bits) word = ~word;
    }
    return set_;
  }
  // Ordered so that readings of a class cut by braces can be told apart.
  auto operator<=>(const ClassBuilder&) const = default;
  bool operator==(const ClassBuilder&) const = default;

 private:
  enum class Pending { None, Literal, LiteralDash };
  void flush() {
    if (pending_ != Pending::None) set_.add(low_);
    if (pending_ == Pending::LiteralDash) set_.add('-');
    pending_ = Pending::None;
  }
  ByteSet set_;
  unsigned char low_ = 0;
  Pending pending_ = Pending::None;
};

// Reads the class at the `[` at `open` into `set` and returns the index just
// past its `]`, or npos when `s` does not close it.
inline std::size_t read_class(std::string_view s, std::size_t open, CloseScan& closes, ByteSet& set) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t n = s.size();
  std::size_t j = open + 1;
  const bool negated = j < n && s[j] == '!';
  if (negated) ++j;
  if (j >= n) return npos;
  ClassBuilder members;
  // One member at j: `\` and a byte, a dash marker, or any other byte (a
  // backslash as the last byte is itself a member).
  auto read_member = [&] {
    if (s[j] == '\\' && j + 1 < n) {
      members.literal(static_cast<unsigned char>(s[j + 1]));
      j += 2;
    } else if (s[j] == '-') {
      members.dash();
      j += 1;
    } else {
      members.literal(static_cast<unsigned char>(s[j]));
      j += 1;
    }
  };
  read_member();  // the first content byte is always a member, even `]`
  const std::size_t close = j < n ? closes.find(s, j) : npos;
  if (close == npos) return npos;
  while (j < close) read_member();
  set = members.finish(negated);
  return close + 1;
}

}  // namespace tokens

// Calls visit(const Token&) for each token of the brace-free `piece`, with
// runs of `*` read as one. A `[` the piece does not close is a literal `[`,
// unless `open_ended` (a later piece of some alternative could close it):
// then reading stops there and the result is false.
template <class Visit>
bool for_each_token(std::string_view piece, bool open_ended, Visit&& visit) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t n = piece.size();
  tokens::CloseScan closes;
  Token tok{};
  bool after_star = false;
  std::size_t i = 0;
  while (i < n) {
    const char c = piece[i];
    tok.kind = TokKind::Lit;
    tok.byte = static_cast<unsigned char>(c);
    std::size_t next = i + 1;
    if (c == '*') {
      tok.kind = TokKind::Star;
    } else if (c == '?') {
      tok.kind = TokKind::Any;
    } else if (c == '\\' && i + 1 < n) {
      tok.byte = static_cast<unsigned char>(piece[i + 1]);
      next = i + 2;
    } else if (c == '[') {
      const std::size_t end = tokens::read_class(piece, i, closes, tok.set);
      if (end != npos) {
        tok.kind = TokKind::Class;
        next = end;
      } else if (open_ended) {
        return false;
      }
    }
    if (!(after_star && tok.kind == TokKind::Star)) visit(static_cast<const Token&>(tok));
    after_star = tok.kind == TokKind::Star;
    i = next;
  }
  return true;
}

}  // namespace tarnwick
