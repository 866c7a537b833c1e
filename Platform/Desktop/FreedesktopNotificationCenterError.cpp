#include "Platform/Desktop/FreedesktopNotificationCenterError.h"

namespace kelto {

FreedesktopNotificationCenterError::FreedesktopNotificationCenterError(const QString& name, const QString& message)
    : std::runtime_error(
          (QStringLiteral("The notification service refused: ") + (message.isEmpty() ? name : message)).toStdString()),
      name_(name) {}

}  // namespace kelto
