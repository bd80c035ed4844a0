#pragma once
// The one shape of a parser's answer: the value, or the text that says why there is none.
// Parsers return `ParseError{"why"}` on failure; callers test it like a pointer and show
// Error() to the user where the parser's text is the message.
#include <optional>
#include <string>
#include <utility>

namespace kv {

struct ParseError {
    std::string message;
};

template <typename T>
class [[nodiscard]] Parsed {
public:
    Parsed(T value) : value_(std::move(value)) {}
    Parsed(ParseError error) : error_(std::move(error.message)) {}

    bool Ok() const { return value_.has_value(); }
    explicit operator bool() const { return Ok(); }
    const T& operator*() const& { return *value_; }
    T& operator*() & { return *value_; }
    T&& operator*() && { return std::move(*value_); }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    // Why there is no value; empty when there is one.
    const std::string& Error() const { return error_; }
    // The value, or `fallback` when there is none.
    T ValueOr(T fallback) const { return value_ ? *value_ : std::move(fallback); }

    // Equal when both hold the same value or both hold none (the texts are not compared).
    friend bool operator==(const Parsed& a, const std::optional<T>& b) { return a.value_ == b; }

private:
    std::optional<T> value_;
    std::string error_;
};

} // namespace kv
