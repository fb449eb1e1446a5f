#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace pindle {

// Why an operation failed, in words a user or a log reader can act on.
struct Error {
    std::string message;
    bool cancelled = false;

    static Error cancellation() { return Error{"cancelled", true}; }
};

// The value of an operation that can fail, or its Error.
template <typename T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
    Result(Error error) : state_(std::move(error)) {}  // NOLINT: implicit by design

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const {
        assert(!ok());
        return std::get<1>(state_);
    }

private:
    std::variant<T, Error> state_;
};

struct Ok {};
using Status = Result<Ok>;

}  // namespace pindle
