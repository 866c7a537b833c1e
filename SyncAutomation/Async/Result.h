#pragma once

#include <exception>
#include <type_traits>
#include <utility>
#include <variant>

namespace kelto {

// The value of work done elsewhere, or the exception it ended with; handed
// to a callback so the error reaches the caller's thread unchanged.
template <typename T>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(std::exception_ptr error) : state_(std::in_place_index<1>, std::move(error)) {}

    template <typename F>
    static Result capture(F&& work) {
        try {
            return Result(std::forward<F>(work)());
        } catch (...) {
            return Result(std::current_exception());
        }
    }

    bool hasValue() const { return state_.index() == 0; }
    // The value, or the exception rethrown.
    const T& get() const {
        if (state_.index() == 1) std::rethrow_exception(std::get<1>(state_));
        return std::get<0>(state_);
    }
    T take() {
        if (state_.index() == 1) std::rethrow_exception(std::get<1>(state_));
        return std::move(std::get<0>(state_));
    }
    std::exception_ptr error() const { return state_.index() == 1 ? std::get<1>(state_) : nullptr; }

private:
    std::variant<T, std::exception_ptr> state_;
};

template <>
class Result<void> {
public:
    Result() = default;
    Result(std::exception_ptr error) : error_(std::move(error)) {}

    template <typename F>
    static Result capture(F&& work) {
        try {
            std::forward<F>(work)();
            return Result();
        } catch (...) {
            return Result(std::current_exception());
        }
    }

    bool hasValue() const { return !error_; }
    void get() const {
        if (error_) std::rethrow_exception(error_);
    }
    std::exception_ptr error() const { return error_; }

private:
    std::exception_ptr error_;
};

}  // namespace kelto
