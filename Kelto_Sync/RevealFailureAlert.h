#pragma once

#include <QString>

class QWidget;

namespace kelto {

class AlertBox;
class SyncStrings;

// What every window does when no way of the desktop could show or open a
// file or folder: an alert over the window that says so and names the path
// in text that can be selected and copied, so the user can find it by hand.
// Never a silent failure.
struct RevealFailureAlert {
    // `failure` is the window's own sentence ("No file manager could show
    // the log."). The alert deletes itself once closed.
    static AlertBox* present(QWidget& from, const SyncStrings& strings, const QString& failure, const QString& path);
};

}  // namespace kelto
