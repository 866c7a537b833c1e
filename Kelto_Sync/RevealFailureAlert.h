#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace kelto {

class AlertBox;
class SyncStrings;

// What every window does when no way of the desktop could show or open a
// file or folder: one alert over the window that says so and names every
// path it could not show, one a line, in text that can be selected and
// copied, so the user can find them by hand. Never a silent failure.
struct RevealFailureAlert {
    // `failure` is the window's own sentence ("No file manager could show
    // the log."). The alert deletes itself once closed; whatever the window
    // shows of the failure goes when it is answered (QDialog::finished).
    static AlertBox* present(QWidget& from, const SyncStrings& strings, const QString& failure,
                             const QStringList& paths);
};

}  // namespace kelto
