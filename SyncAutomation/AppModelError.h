#pragma once

#include "SyncModel/ValidationReport.h"

#include <stdexcept>
#include <utility>

namespace kelto {

// Why the application model refused a change or a request. The windows
// phrase it for the user; the text here is only a plain fallback.
class AppModelError : public std::runtime_error {
public:
    enum class Code {
        invalidJob,   // the validator found at least one error; the report says which
        jobNotFound,  // not in the jobs file, or the model cannot serve the request
        jobBusy,      // queued, running, awaiting confirmation or previewed; or added twice
    };

    static AppModelError invalidJob(ValidationReport report) {
        return AppModelError(Code::invalidJob, std::move(report), "The job has settings that must be corrected.");
    }
    static AppModelError jobNotFound() { return AppModelError(Code::jobNotFound, {}, "The job no longer exists."); }
    static AppModelError jobBusy() {
        return AppModelError(Code::jobBusy, {},
                             "The job is busy. Try again when its current run or preview has ended.");
    }

    Code code() const { return code_; }
    // The whole report, errors and warnings (invalidJob).
    const ValidationReport& report() const { return report_; }

    // invalidJob values compare by their reports.
    friend bool operator==(const AppModelError& a, const AppModelError& b) {
        return a.code_ == b.code_ && (a.code_ != Code::invalidJob || a.report_ == b.report_);
    }

private:
    AppModelError(Code code, ValidationReport report, const char* message)
        : std::runtime_error(message), code_(code), report_(std::move(report)) {}

    Code code_;
    ValidationReport report_;
};

}  // namespace kelto
