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
    ErrorOr(Failure<E> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}
    // A failure of another type that makes an E (a cause, a detail text).
    template <typename F>
    requires(!std::is_same_v<F, E> && std::is_constructible_v<E, F>) ErrorOr(Failure<F> failure)
        : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

    bool is_error() const { return state_.index() == 1; }
    const E& error() const { return std::get<1>(state_); }
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
    ErrorOr(Failure<E> failure) : failed_(true), error_(std::move(failure.error)) {}
    template <typename F>
    requires(!std::is_same_v<F, E> && std::is_constructible_v<E, F>) ErrorOr(Failure<F> failure)
        : failed_(true), error_(E(std::move(failure.error))) {}

    bool is_error() const { return failed_; }
    const E& error() const { return error_; }
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
