#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace kelto {

// One call of the desktop portal's OpenURI (OpenDirectory or OpenFile) on a
// file descriptor of `path`, answered by the portal's Request later: true for
// a Response of 0, false for a refusal, an error reply or no portal; true too
// once `patienceMs` pass without a Response (the portal is asking the user
// which program to open it with). Deletes itself after answering.
class PortalOpenRequest : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(bool opened)>;

    static void start(const QDBusConnection& bus, const QString& method, const QString& path, int patienceMs,
                      Done done);

private slots:
    void response(uint code, const QVariantMap& results);

private:
    PortalOpenRequest(const QDBusConnection& bus, Done done);
    void listen(const QString& handle);
    void answer(bool opened);

    QDBusConnection bus_;
    Done done_;
    QString handle_;
    bool answered_ = false;
};

}  // namespace kelto
