#pragma once

#include <stdexcept>

namespace kelto {

class JobRunnerError : public std::runtime_error {
public:
    // The job is queued, running, awaiting confirmation or being previewed.
    enum class Code { jobBusy };

    explicit JobRunnerError(Code code)
        : std::runtime_error("The job is busy. Try again when its current run or preview has ended."), code_(code) {}
    Code code() const { return code_; }

    friend bool operator==(const JobRunnerError& a, const JobRunnerError& b) { return a.code_ == b.code_; }

private:
    Code code_;
};

}  // namespace kelto
