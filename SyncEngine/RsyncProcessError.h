#pragma once

#include <filesystem>
#include <stdexcept>

namespace kelto {

// The rsync child could not be started or watched. Its exit status is
// never an error.
class RsyncProcessError : public std::runtime_error {
public:
    enum class Code {
        launchFailed,  // pipes, spawn or exec failed; errorNumber() tells why
        waitFailed,    // waiting for the child's output failed; the child was killed
    };

    RsyncProcessError(Code code, int errorNumber, std::filesystem::path executable);

    Code code() const { return code_; }
    int errorNumber() const { return errorNumber_; }
    const std::filesystem::path& executable() const { return executable_; }

private:
    Code code_;
    int errorNumber_;
    std::filesystem::path executable_;
};

}  // namespace kelto
