// SmallVec: a vector of trivially copyable values that keeps its first N
// items inline, so converting a short argument list allocates nothing.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>

namespace tarnwick::py {

template <class T, std::size_t N>
class SmallVec {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  SmallVec() = default;
  SmallVec(const SmallVec&) = delete;
  SmallVec& operator=(const SmallVec&) = delete;
  ~SmallVec() {
    if (data_ != reinterpret_cast<T*>(storage_)) ::operator delete(data_);
  }

  void push_back(const T& value) {
    if (size_ == capacity_) grow();
    data_[size_++] = value;
  }
  void clear() { size_ = 0; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  std::span<const T> span() const { return {data_, size_}; }

 private:
  void grow() {
    const std::size_t capacity = capacity_ * 2;
    T* bigger = static_cast<T*>(::operator new(capacity * sizeof(T)));
    std::memcpy(static_cast<void*>(bigger), data_, size_ * sizeof(T));
    if (data_ != reinterpret_cast<T*>(storage_)) ::operator delete(data_);
    data_ = bigger;
    capacity_ = capacity;
  }

  // Raw storage: nothing to initialise until an item is pushed.
  alignas(T) unsigned char storage_[N * sizeof(T)];
  T* data_ = reinterpret_cast<T*>(storage_);
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
};

}  // namespace tarnwick::py
