#pragma once

#include "SyncModel/RunOutcome.h"

#include <stdexcept>
#include <string>

namespace kelto {

// Why a job could not be resolved for a preview or a run: one of its folders
// is not available now (the reason a run is skipped for), or the job is no
// longer in the list.
class SyncPreviewError : public std::runtime_error {
public:
    enum class Code { unavailable, jobNotFound };

    static SyncPreviewError unavailable(SkipReason reason);
    static SyncPreviewError jobNotFound();

    Code code() const { return code_; }
    SkipReason reason() const { return reason_; }  // unavailable

    friend bool operator==(const SyncPreviewError& a, const SyncPreviewError& b) {
        return a.code_ == b.code_ && (a.code_ != Code::unavailable || a.reason_ == b.reason_);
    }

private:
    SyncPreviewError(Code code, SkipReason reason, const std::string& message)
        : std::runtime_error(message), code_(code), reason_(reason) {}

    Code code_;
    SkipReason reason_;
};

}  // namespace kelto
