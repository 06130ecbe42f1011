#pragma once
// What a step of the service that can fail gives back: its value, or why there is none. Every
// fallible function of the service answers this way, so a caller reads one shape everywhere:
// test it, then take the value or the error.

#include <string>
#include <utility>
#include <variant>

namespace server {

enum class ErrorKind {
    Invalid,    // the input was refused; the message says why, for the one who sent it
    Unavailable // the database (or the system under it) failed; nothing was changed
};

struct Error {
    ErrorKind Kind = ErrorKind::Invalid;
    std::string Message;
};

inline Error Refusal(std::string message) {
    return {ErrorKind::Invalid, std::move(message)};
}
inline Error Unavailable(std::string message) {
    return {ErrorKind::Unavailable, std::move(message)};
}

template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool HasValue() const { return state_.index() == 0; }
    explicit operator bool() const { return HasValue(); }

    T& Value() & { return std::get<0>(state_); }
    const T& Value() const& { return std::get<0>(state_); }
    // By value, so that a loop over a temporary's value does not dangle.
    T Value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return Value(); }
    const T& operator*() const& { return Value(); }
    T* operator->() { return &Value(); }
    const T* operator->() const { return &Value(); }

    const Error& Failure() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// A step that gives nothing back but may fail.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}

    bool HasValue() const { return !failed_; }
    explicit operator bool() const { return HasValue(); }
    const Error& Failure() const { return error_; }

private:
    Error error_;
    bool failed_ = false;
};

} // namespace server
