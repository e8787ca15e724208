// ErrorOr<T, E>: a value or an error, for code that runs without exceptions.
// TRY(expr) returns the error from the enclosing function, or yields the value.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace base {

template <typename E>
struct Failure {
    E error;
};

template <typename E>
Failure<E> fail(E error) {
    return Failure<E>{error};
}

template <typename T, typename E>
class [[nodiscard]] ErrorOr {
  public:
    ErrorOr(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    ErrorOr(Failure<E> failure) : state_(std::in_place_index<1>, failure.error) {}

    bool is_error() const { return state_.index() == 1; }
    E error() const { return std::get<1>(state_); }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T release_value() { return std::move(std::get<0>(state_)); }

  private:
    std::variant<T, E> state_;
};

// The value-less form: success or an error.
template <typename E>
class [[nodiscard]] ErrorOr<void, E> {
  public:
    ErrorOr() = default;
    ErrorOr(Failure<E> failure) : failed_(true), error_(failure.error) {}

    bool is_error() const { return failed_; }
    E error() const { return error_; }
    void release_value() {}

  private:
    bool failed_ = false;
    E error_{};
};

}  // namespace base

#define TRY(expression)                               \
    ({                                                \
        auto _try_result = (expression);              \
        if (_try_result.is_error())                   \
            return ::base::fail(_try_result.error()); \
        _try_result.release_value();                  \
    })
