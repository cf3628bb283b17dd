// JsonScanner: checks a JSON document fed in chunks of any size and reports
// where the values near the top of it begin and end, without building them.
//
// It is how a SARIF log of any size is read one result at a time: a first
// scan reports the members of the log and of each run (the results array
// among them), a second scan of a results array reports each result's byte
// span, and only those bytes are parsed. Everything is checked as RFC 8259
// JSON in UTF-8 (what Python's `json` accepts from UTF-8 bytes, less NaN and
// Infinity), with an explicit stack instead of recursion and with bounds on
// nesting depth, string length and number length. Errors are values naming
// the byte offset and the path of the value ("runs[0].results[12].message").
//
// Time: linear in the input. Memory: the stack (depth <= max_depth frames of
// a few dozen bytes) plus the events of the current chunk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::json {

struct ScanLimits {
  std::size_t max_depth = 512;             // nested arrays and objects
  std::uint64_t max_string = 1ull << 28;   // bytes of one string as written (256 MiB)
  std::uint64_t max_number = 1ull << 16;   // characters of one number
  std::uint64_t plain_digits = 640;        // longer integers are not "plain"
};

// A value that ended at a depth the scanner reports (the document itself
// is depth 0). Offsets count bytes from the first byte fed.
struct ScanEvent {
  std::uint32_t depth;
  std::uint64_t index;      // place among its siblings
  std::int64_t key_start;   // the member's key, quotes included; -1 in an array
  std::int64_t key_end;
  std::uint64_t start;      // the value's first byte
  std::uint64_t end;        // one past its last byte
  std::uint64_t children;   // elements or members, for an array or object
  bool plain;  // holds no number that a float or long integer must carry, no surrogate
};

struct ScanError {
  std::uint64_t offset;
  std::string path;     // "" for the document itself
  std::string message;  // "unterminated string", ...
  bool too_deep = false;
};

class JsonScanner {
 public:
  explicit JsonScanner(std::uint32_t report_depth, ScanLimits limits = {});

  // Scans `chunk`, appending the values it completes to `events`. After an
  // error every later call returns the same error.
  std::optional<ScanError> feed(std::string_view chunk, std::vector<ScanEvent>& events);
  // The end of the input: an error unless exactly one complete value was
  // fed. A number at the very end completes here, into `events`.
  std::optional<ScanError> finish(std::vector<ScanEvent>& events);

 private:
  enum class State : std::uint8_t {
    kValue, kFirstValue, kAfter, kKey, kFirstKey, kColon, kString, kEscape, kHex,
    kUtf8, kNumber, kLiteral, kDone,
  };
  enum class Num : std::uint8_t { kSign, kZero, kInt, kDot, kFrac, kE, kESign, kExp };
  struct Frame {
    bool object;
    std::uint64_t index = 0;
    std::uint64_t start = 0;
    std::int64_t key_start = -1;
    std::int64_t key_end = -1;
    std::uint64_t unplain_at_start = 0;
    std::string key;  // the member's key as written, at most kKeyShown bytes (for errors)
  };
  static constexpr std::size_t kKeyShown = 64;

  bool step(unsigned char c, std::uint64_t at, std::vector<ScanEvent>& events);
  bool begin_value(unsigned char c, std::uint64_t at, std::vector<ScanEvent>& events);
  bool end_scalar(std::uint64_t end, std::vector<ScanEvent>& events);
  void value_done(std::uint64_t start, std::uint64_t end, std::uint64_t children, bool plain,
                  std::vector<ScanEvent>& events);
  bool close(unsigned char c, std::uint64_t at, std::vector<ScanEvent>& events);
  bool number_char(unsigned char c, std::uint64_t at, std::vector<ScanEvent>& events);
  bool fail(std::string message, bool too_deep = false);
  std::string path() const;

  std::uint32_t report_depth_;
  ScanLimits limits_;
  std::vector<Frame> stack_;
  State state_ = State::kValue;
  Num num_ = Num::kSign;
  std::uint64_t offset_ = 0;       // bytes fed so far
  std::uint64_t at_ = 0;           // offset of the byte being scanned
  std::uint64_t token_start_ = 0;  // of the current string, number or literal
  std::uint64_t token_length_ = 0;
  std::uint64_t int_digits_ = 0;
  bool number_plain_ = true;
  std::uint64_t unplain_ = 0;      // numbers seen so far that are not plain
  std::string_view literal_;       // the literal being read
  std::size_t literal_pos_ = 0;
  int hex_left_ = 0;
  int utf8_left_ = 0;
  unsigned char utf8_low_ = 0x80, utf8_high_ = 0xBF;  // range of the next continuation byte
  bool key_string_ = false;
  bool surrogate_ = false;  // the UTF-8 sequence being read started with ED
  std::optional<ScanError> error_;
};

}  // namespace tarnwick::json
