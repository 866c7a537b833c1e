#pragma once

#include <QString>

#include <stdexcept>

namespace kelto {

// The notification server answered with an error; what() gives its message.
class FreedesktopNotificationCenterError : public std::runtime_error {
public:
    enum class Code { errorReply };

    FreedesktopNotificationCenterError(const QString& name, const QString& message);

    Code code() const { return Code::errorReply; }
    // The D-Bus error name.
    const QString& name() const { return name_; }

private:
    QString name_;
};

}  // namespace kelto
