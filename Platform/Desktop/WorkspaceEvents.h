#pragma once

#include <QObject>
#include <QString>

namespace kelto {

// What other programs do on the desktop, as signals: another window became
// the active one, or a program whose window was seen has exited. The X11
// layer emits them; tests emit them by hand.
class WorkspaceEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void activated();
    // `program` is the lower-case window class the program's window carried.
    void terminated(const QString& program);
};

}  // namespace kelto
