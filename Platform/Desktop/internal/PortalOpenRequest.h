#pragma once

#include "Platform/Desktop/internal/PortalOpenRequestError.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace kelto {

// One call of the desktop portal's OpenURI (OpenDirectory or OpenFile) on a
// file descriptor of `path`, answered by the portal's Request later: nothing
// for a Response of 0, else why it was not opened (a refusal, an error reply,
// no portal, or no Response within `patienceMs`: a portal that stays silent
// has shown nothing, so the caller tries another way). Deletes itself after
// answering.
class PortalOpenRequest : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(std::optional<PortalOpenRequestError> failure)>;

    static void start(const QDBusConnection& bus, const QString& method, const QString& path, int patienceMs,
                      Done done);

private slots:
    void response(uint code, const QVariantMap& results);

private:
    PortalOpenRequest(const QDBusConnection& bus, Done done);
    void listen(const QString& handle);
    void answer(std::optional<PortalOpenRequestError> failure);

    QDBusConnection bus_;
    Done done_;
    QString handle_;
    bool answered_ = false;
};

}  // namespace kelto
