#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace quellon {

// Success value of operations that produce nothing but may fail.
struct Ok {};

// Either a value or an error; the core reports failures this way and the
// binding layer turns each error into exactly one Python exception.
template <class T, class E>
class [[nodiscard]] Result {
    static_assert(!std::is_same_v<T, E>, "value and error types must differ");

public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const { return std::get<0>(state_); }
    const E& error() const { return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

}  // namespace quellon
