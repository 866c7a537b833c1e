#pragma once

#include <QString>

#include <stdexcept>

namespace kelto {

// A failure to read or write an autostart entry; what() names the file and
// the reason.
class AutostartEntryError : public std::runtime_error {
public:
    enum class Code { unreadable, notWritten };

    AutostartEntryError(Code code, const QString& path, const QString& reason);

    Code code() const { return code_; }
    const QString& path() const { return path_; }

private:
    Code code_;
    QString path_;
};

}  // namespace kelto
