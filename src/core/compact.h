// Small owning containers for what every directive holds, so that a
// directive of short texts stays a few dozen bytes: millions of them come
// from one large rules file.
//
//   CompactText t("abc");   // 16 bytes: up to 15 inline, longer on the heap
//   std::string_view v = t; // "abc"; an absent text reads as ""
//   WordArray w; w.assign(4, 0); w.data()[3] = 1;   // 8 bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace tarnwick {

// A text that may be absent, in 16 bytes: up to 15 bytes inline, a longer
// one in a heap block that starts with its size.
class CompactText {
 public:
  CompactText() = default;  // absent
  explicit CompactText(std::string_view text) { assign(text); }
  CompactText(const CompactText& other) {
    if (other.present()) assign(other.view());
  }
  CompactText& operator=(const CompactText& other) {
    if (this != &other) {
      CompactText copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  // Moves take the bytes as they are: the heap block changes owner.
  CompactText(CompactText&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.bytes_[kTag] = kAbsent;
  }
  CompactText& operator=(CompactText&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.bytes_[kTag] = kAbsent;
    }
    return *this;
  }
  ~CompactText() { release(); }

  void assign(std::string_view text) {
    if (text.size() < kTag) {
      release();
      std::memcpy(bytes_, text.data(), text.size());
      bytes_[kTag] = static_cast<unsigned char>(text.size());
      return;
    }
    auto* block = static_cast<char*>(::operator new(sizeof(std::size_t) + text.size()));
    const std::size_t size = text.size();
    std::memcpy(block, &size, sizeof size);
    std::memcpy(block + sizeof size, text.data(), size);
    release();
    std::memcpy(bytes_, &block, sizeof block);
    bytes_[kTag] = kHeap;
  }

  bool present() const { return bytes_[kTag] != kAbsent; }
  std::string_view view() const {
    const unsigned char tag = bytes_[kTag];
    if (tag < kTag) return {reinterpret_cast<const char*>(bytes_), tag};
    if (tag == kAbsent) return {};
    const char* block = heap_block();
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    return {block + sizeof size, size};
  }
  operator std::string_view() const { return view(); }  // NOLINT: reads like a string
  std::size_t size() const { return view().size(); }
  bool empty() const { return view().empty(); }

 private:
  static constexpr std::size_t kTag = 15;  // the byte that tells the form
  static constexpr unsigned char kHeap = 0x80;
  static constexpr unsigned char kAbsent = 0xFF;

  char* heap_block() const {
    char* block;
    std::memcpy(&block, bytes_, sizeof block);
    return block;
  }
  void release() {
    if (bytes_[kTag] == kHeap) ::operator delete(heap_block());
    bytes_[kTag] = kAbsent;
  }

  alignas(8) unsigned char bytes_[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kAbsent};
};
static_assert(sizeof(CompactText) == 16);

// An owned array of 64-bit words whose length its owner knows: 8 bytes.
class WordArray {
 public:
  void assign(std::size_t count, std::uint64_t value) {
    if (count == 0) {
      words_.reset();
      return;
    }
    words_.reset(new std::uint64_t[count]);
    std::fill_n(words_.get(), count, value);
  }
  void clear() { words_.reset(); }
  std::uint64_t* data() { return words_.get(); }
  const std::uint64_t* data() const { return words_.get(); }

 private:
  std::unique_ptr<std::uint64_t[]> words_;
};

}  // namespace tarnwick
