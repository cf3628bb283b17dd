// Result<T, E>: a value or an error, the way every core operation reports
// failure. Nothing in the core throws across its boundary.
#pragma once

#include <utility>
#include <variant>

namespace tarnwick {

template <class E>
struct Err {
  E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class Result {
 public:
  Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(const T& value) : v_(std::in_place_index<0>, value) {}
  template <class F>
  Result(Err<F> err) : v_(std::in_place_index<1>, std::move(err.error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const E& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, E> v_;
};

}  // namespace tarnwick
