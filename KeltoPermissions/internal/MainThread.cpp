#include "KeltoPermissions/internal/MainThread.h"

#include <QCoreApplication>

namespace kelto::MainThread {

void post(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

}  // namespace kelto::MainThread
