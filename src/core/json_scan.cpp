#include "core/json_scan.h"

#include <algorithm>
#include <utility>

namespace tarnwick::json {
namespace {

bool blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool hex(unsigned char c) {
  return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

constexpr std::size_t kPathShown = 200;  // characters of a path in an error

}  // namespace

JsonScanner::JsonScanner(std::uint32_t report_depth, ScanLimits limits)
    : report_depth_(report_depth), limits_(limits) {}

std::optional<ScanError> JsonScanner::feed(std::string_view chunk, std::vector<ScanEvent>& events) {
  if (error_) return error_;
  const std::size_t n = chunk.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(chunk[i]);
    // The common cases without the dispatch of `step`: plain text inside a
    // string value, and blanks between tokens.
    if (state_ == State::kString) {
      const std::size_t from = i;
      // (every byte of a string is counted against the limit as it comes, so
      // token_length_ never passes it here)
      const std::uint64_t room = limits_.max_string - token_length_;
      while (i < n && i - from < room) {
        c = static_cast<unsigned char>(chunk[i]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') break;
        ++i;
      }
      token_length_ += i - from;
      if (key_string_) {
        std::string& key = stack_.back().key;
        key.append(chunk.data() + from, std::min(i - from, kKeyShown - std::min(kKeyShown, key.size())));
      }
      if (i == n) break;
      c = static_cast<unsigned char>(chunk[i]);
    } else if (blank(c) && state_ != State::kString && state_ != State::kNumber &&
               state_ != State::kLiteral && state_ != State::kEscape && state_ != State::kHex &&
               state_ != State::kUtf8) {
      continue;
    }
    at_ = offset_ + i;
    if (!step(c, at_, events)) return error_;
  }
  offset_ += chunk.size();
  return std::nullopt;
}

std::optional<ScanError> JsonScanner::finish(std::vector<ScanEvent>& events) {
  if (error_) return error_;
  at_ = offset_;
  if (state_ == State::kNumber && !step(' ', offset_, events)) return error_;
  if (state_ == State::kDone) return std::nullopt;
  fail(state_ == State::kValue && stack_.empty() ? "no JSON value" : "the input ends in the middle of a value");
  return error_;
}

bool JsonScanner::fail(std::string message, bool too_deep) {
  error_ = ScanError{at_, path(), std::move(message), too_deep};
  return false;
}

std::string JsonScanner::path() const {
  // Inside a container but between its children, the path is the container's.
  const bool between = state_ == State::kAfter || state_ == State::kFirstValue ||
                       state_ == State::kKey || state_ == State::kFirstKey ||
                       (state_ == State::kString && key_string_);
  std::string out;
  for (std::size_t i = 0; i < stack_.size(); ++i) {
    const Frame& f = stack_[i];
    if (between && i + 1 == stack_.size()) break;
    if (f.object) {
      if (f.key_start < 0) break;
      if (!out.empty()) out += '.';
      out += f.key;
    } else {
      out += '[' + std::to_string(f.index) + ']';
    }
    if (out.size() > kPathShown) {
      out.resize(kPathShown);
      out += "...";
      break;
    }
  }
  return out;
}

void JsonScanner::value_done(std::uint64_t start, std::uint64_t end, std::uint64_t children,
                             bool plain, std::vector<ScanEvent>& events) {
  const auto depth = static_cast<std::uint32_t>(stack_.size());
  if (depth <= report_depth_) {
    ScanEvent e{depth, 0, -1, -1, start, end, children, plain};
    if (!stack_.empty()) {
      const Frame& parent = stack_.back();
      e.index = parent.index;
      if (parent.object) {
        e.key_start = parent.key_start;
        e.key_end = parent.key_end;
      }
    }
    events.push_back(e);
  }
  if (!stack_.empty()) ++stack_.back().index;
  state_ = stack_.empty() ? State::kDone : State::kAfter;
}

bool JsonScanner::end_scalar(std::uint64_t end, std::vector<ScanEvent>& events) {
  const bool plain = state_ != State::kNumber || number_plain_;
  if (!plain) ++unplain_;
  value_done(token_start_, end, 0, plain, events);
  return true;
}

bool JsonScanner::close(unsigned char c, std::uint64_t at, std::vector<ScanEvent>& events) {
  const bool object = c == '}';
  if (stack_.empty() || stack_.back().object != object) {
    return fail(stack_.back().object ? "expected ',' or '}'" : "expected ',' or ']'");
  }
  const Frame f = std::move(stack_.back());
  stack_.pop_back();
  value_done(f.start, at + 1, f.index, unplain_ == f.unplain_at_start, events);
  return true;
}

bool JsonScanner::begin_value(unsigned char c, std::uint64_t at, std::vector<ScanEvent>&) {
  token_start_ = at;
  token_length_ = 0;
  state_ = State::kValue;  // errors from here on name the value's own place
  switch (c) {
    case '{':
    case '[':
      if (stack_.size() >= limits_.max_depth) return fail("nested too deeply", true);
      stack_.push_back(Frame{c == '{', 0, at, -1, -1, unplain_, {}});
      state_ = c == '{' ? State::kFirstKey : State::kFirstValue;
      return true;
    case '"':
      key_string_ = false;
      state_ = State::kString;
      return true;
    case 't':
      literal_ = "true";
      break;
    case 'f':
      literal_ = "false";
      break;
    case 'n':
      literal_ = "null";
      break;
    case 'N':
      return fail("NaN is not a JSON value");
    case 'I':
      return fail("Infinity is not a JSON value");
    default:
      if (c == '-' || digit(c)) {
        num_ = c == '-' ? Num::kSign : c == '0' ? Num::kZero : Num::kInt;
        int_digits_ = digit(c) ? 1 : 0;
        number_plain_ = true;
        token_length_ = 1;
        state_ = State::kNumber;
        return true;
      }
      return fail("expected a value");
  }
  literal_pos_ = 1;
  state_ = State::kLiteral;
  return true;
}

bool JsonScanner::number_char(unsigned char c, std::uint64_t at, std::vector<ScanEvent>& events) {
  const bool part = digit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
  if (part && ++token_length_ > limits_.max_number) return fail("number too long");
  switch (num_) {
    case Num::kSign:
      if (c == 'I') return fail("-Infinity is not a JSON value");
      if (!digit(c)) return fail("invalid number");
      num_ = c == '0' ? Num::kZero : Num::kInt;
      int_digits_ = 1;
      return true;
    case Num::kInt:
      if (digit(c)) {
        if (++int_digits_ > limits_.plain_digits) number_plain_ = false;
        return true;
      }
      [[fallthrough]];
    case Num::kZero:
      if (c == '.') {
        num_ = Num::kDot;
        number_plain_ = false;
        return true;
      }
      [[fallthrough]];
    case Num::kFrac:
      if (num_ == Num::kFrac && digit(c)) return true;
      if (c == 'e' || c == 'E') {
        num_ = Num::kE;
        number_plain_ = false;
        return true;
      }
      break;
    case Num::kDot:
      if (!digit(c)) return fail("invalid number");
      num_ = Num::kFrac;
      return true;
    case Num::kE:
      if (c == '+' || c == '-') {
        num_ = Num::kESign;
        return true;
      }
      [[fallthrough]];
    case Num::kESign:
      if (!digit(c)) return fail("invalid number");
      num_ = Num::kExp;
      return true;
    case Num::kExp:
      if (digit(c)) return true;
      break;
  }
  // The number ended before `c`, which belongs to what follows.
  end_scalar(at, events);
  return step(c, at, events);
}

bool JsonScanner::step(unsigned char c, std::uint64_t at, std::vector<ScanEvent>& events) {
  switch (state_) {
    case State::kFirstValue:
      if (c == ']') return close(c, at, events);
      [[fallthrough]];
    case State::kValue:
      if (blank(c)) return true;
      return begin_value(c, at, events);
    case State::kAfter:
      if (blank(c)) return true;
      if (c == ',') {
        state_ = stack_.back().object ? State::kKey : State::kValue;
        return true;
      }
      if (c == ']' || c == '}') return close(c, at, events);
      return fail(stack_.back().object ? "expected ',' or '}'" : "expected ',' or ']'");
    case State::kFirstKey:
      if (c == '}') return close(c, at, events);
      [[fallthrough]];
    case State::kKey:
      if (blank(c)) return true;
      if (c != '"') return fail("expected a member name in double quotes");
      key_string_ = true;
      token_start_ = at;
      token_length_ = 0;
      stack_.back().key_start = static_cast<std::int64_t>(at);
      stack_.back().key.clear();
      state_ = State::kString;
      return true;
    case State::kColon:
      if (blank(c)) return true;
      if (c != ':') return fail("expected ':'");
      state_ = State::kValue;
      return true;
    case State::kString:
      if (c != '"' && ++token_length_ > limits_.max_string) return fail("string too long");
      if (key_string_ && c != '"' && stack_.back().key.size() < kKeyShown) {
        stack_.back().key.push_back(static_cast<char>(c));
      }
      if (c == '"') {
        if (!key_string_) return end_scalar(at + 1, events);
        stack_.back().key_end = static_cast<std::int64_t>(at + 1);
        state_ = State::kColon;
        return true;
      }
      if (c == '\\') {
        state_ = State::kEscape;
        return true;
      }
      if (c < 0x20) return fail("control character in a string");
      if (c < 0x80) return true;
      utf8_low_ = 0x80;
      utf8_high_ = 0xBF;
      if (c >= 0xC2 && c <= 0xDF) {
        utf8_left_ = 1;
      } else if (c >= 0xE0 && c <= 0xEF) {
        utf8_left_ = 2;
        if (c == 0xE0) utf8_low_ = 0xA0;
        // A surrogate (ED A0..BF ..) is not UTF-8, but Python's `json` reads bytes
        // with "surrogatepass" and takes it: so does the scanner, marking the
        // values around it as not plain, since they cannot be copied as they are.
        surrogate_ = c == 0xED;
      } else if (c >= 0xF0 && c <= 0xF4) {
        utf8_left_ = 3;
        if (c == 0xF0) utf8_low_ = 0x90;
        if (c == 0xF4) utf8_high_ = 0x8F;
      } else {
        return fail("not UTF-8");
      }
      state_ = State::kUtf8;
      return true;
    case State::kUtf8:
      if (c < utf8_low_ || c > utf8_high_) return fail("not UTF-8");
      if (surrogate_) {
        if (c >= 0xA0) ++unplain_;
        surrogate_ = false;
      }
      utf8_low_ = 0x80;
      utf8_high_ = 0xBF;
      if (++token_length_ > limits_.max_string) return fail("string too long");
      if (key_string_ && stack_.back().key.size() < kKeyShown) {
        stack_.back().key.push_back(static_cast<char>(c));
      }
      if (--utf8_left_ == 0) state_ = State::kString;
      return true;
    case State::kEscape:
      if (++token_length_ > limits_.max_string) return fail("string too long");
      if (key_string_ && stack_.back().key.size() < kKeyShown) {
        stack_.back().key.push_back(static_cast<char>(c));
      }
      if (c == 'u') {
        hex_left_ = 4;
        state_ = State::kHex;
        return true;
      }
      if (c == '"' || c == '\\' || c == '/' || c == 'b' || c == 'f' || c == 'n' || c == 'r' ||
          c == 't') {
        state_ = State::kString;
        return true;
      }
      return fail("invalid escape in a string");
    case State::kHex:
      if (!hex(c)) return fail("invalid \\u escape in a string");
      if (++token_length_ > limits_.max_string) return fail("string too long");
      if (key_string_ && stack_.back().key.size() < kKeyShown) {
        stack_.back().key.push_back(static_cast<char>(c));
      }
      if (--hex_left_ == 0) state_ = State::kString;
      return true;
    case State::kNumber:
      return number_char(c, at, events);
    case State::kLiteral:
      if (c != static_cast<unsigned char>(literal_[literal_pos_])) return fail("invalid literal");
      if (++literal_pos_ == literal_.size()) return end_scalar(at + 1, events);
      return true;
    case State::kDone:
      if (blank(c)) return true;
      return fail("extra data after the JSON value");
  }
  return fail("internal state");
}

}  // namespace tarnwick::json
