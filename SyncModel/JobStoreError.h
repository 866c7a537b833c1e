#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kelto {

// The jobs file's own failure: a file written by a version of the program
// that this one does not understand.
class JobStoreError : public std::runtime_error {
public:
    enum class Code { unsupportedVersion };

    static JobStoreError unsupportedVersion(std::int64_t version);

    Code code() const { return code_; }
    // The version number found in the file.
    std::int64_t version() const { return version_; }

    friend bool operator==(const JobStoreError& a, const JobStoreError& b) {
        return a.code_ == b.code_ && a.version_ == b.version_;
    }

private:
    JobStoreError(Code code, std::int64_t version, const std::string& message)
        : std::runtime_error(message), code_(code), version_(version) {}

    Code code_;
    std::int64_t version_;
};

}  // namespace kelto
