#include "Platform/Desktop/AutostartEntryError.h"

namespace kelto {
namespace {

std::string describe(AutostartEntryError::Code code, const QString& path, const QString& reason) {
    const QString what = code == AutostartEntryError::Code::unreadable
                             ? QStringLiteral("The autostart entry “%1” could not be read: %2")
                             : QStringLiteral("The autostart entry “%1” could not be written: %2");
    return what.arg(path, reason).toStdString();
}

}  // namespace

AutostartEntryError::AutostartEntryError(Code code, const QString& path, const QString& reason)
    : std::runtime_error(describe(code, path, reason)), code_(code), path_(path) {}

}  // namespace kelto
