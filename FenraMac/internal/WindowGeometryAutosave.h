#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace kelto {

// Writes a window's geometry to QSettings at every move and resize. A child
// of the window it watches.
class WindowGeometryAutosave : public QObject {
    Q_OBJECT

public:
    WindowGeometryAutosave(QWidget& window, const QString& key);

    void setKey(const QString& key) { key_ = key; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    QString key_;
};

}  // namespace kelto
