#pragma once

#include <exception>
#include <filesystem>

namespace kelto {

// The bundled rsync is missing or not executable; start-up cannot go on.
class RsyncLocatorError : public std::exception {
public:
    enum class Code { notFound };

    static RsyncLocatorError notFound(std::filesystem::path rejectedPath) {
        return RsyncLocatorError(Code::notFound, std::move(rejectedPath));
    }

    Code code() const { return code_; }
    // The path that was rejected.
    const std::filesystem::path& path() const { return path_; }
    // The error carries no text of its own: this is the generic description.
    const char* what() const noexcept override;

    friend bool operator==(const RsyncLocatorError& a, const RsyncLocatorError& b) {
        return a.code_ == b.code_ && a.path_ == b.path_;
    }

private:
    RsyncLocatorError(Code code, std::filesystem::path path) : code_(code), path_(std::move(path)) {}

    Code code_;
    std::filesystem::path path_;
};

}  // namespace kelto
