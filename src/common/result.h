// The outcome of a call that can fail: its value, or what failed.
//
// The platform layer returns these; the core passes them on unchanged (adding
// context where it knows more), and only the windows and the command-line
// tool turn a failure into words for the user, through Text().
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tarnwick {

struct TFailure {
    // The system's error number (errno), 0 when the failure has none (a
    // malformed reply, a missing interface found by name).
    int Errno = 0;
    // What was being done, in words a user can act on: "opening the packet
    // socket on eth0", "reading /proc/net/tcp".
    std::string Context;
    // The system's own words for the failure where they say more than
    // errno's message (Windows's message for its error code); empty for
    // errno's.
    std::string SystemText{};

    // "Context: system message", or Context alone when Errno is 0.
    std::string Text() const;
    // The system's message for Errno alone, for texts that say the context
    // in their own words.
    std::string ErrnoText() const;
    bool operator==(const TFailure&) const = default;
};

// A failure from errno as the call left it.
TFailure FailureFromErrno(std::string context);

template <class T>
class [[nodiscard]] TResult {
public:
    TResult(T value) : State_(std::move(value)) {}
    TResult(TFailure failure) : State_(std::move(failure)) {}

    bool Ok() const { return State_.index() == 0; }
    explicit operator bool() const { return Ok(); }

    // Only when Ok().
    T& Value() & { return std::get<0>(State_); }
    const T& Value() const& { return std::get<0>(State_); }
    T&& Value() && { return std::get<0>(std::move(State_)); }
    T* operator->() { return &Value(); }
    const T* operator->() const { return &Value(); }
    T& operator*() & { return Value(); }
    const T& operator*() const& { return Value(); }

    // Only when !Ok().
    const TFailure& Failure() const { return std::get<1>(State_); }

private:
    std::variant<T, TFailure> State_;
};

template <>
class [[nodiscard]] TResult<void> {
public:
    TResult() = default;
    TResult(TFailure failure) : Failed_(true), Failure_(std::move(failure)) {}

    bool Ok() const { return !Failed_; }
    explicit operator bool() const { return Ok(); }
    const TFailure& Failure() const { return Failure_; }

private:
    bool Failed_ = false;
    TFailure Failure_;
};

using TStatus = TResult<void>;

}  // namespace tarnwick
