#include "Kelto_Sync/App/DesktopAppearance.h"

#include "FenraCore/Appearance.h"
#include "FenraCore/FenraStyle.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>

namespace kelto {

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString interface = QStringLiteral("org.freedesktop.portal.Settings");
const QString group = QStringLiteral("org.freedesktop.appearance");
const QString key = QStringLiteral("color-scheme");

// The portal wraps the value in one variant more than it declares.
uint unwrap(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value.toUInt();
}

}  // namespace

DesktopAppearance::DesktopAppearance(QObject* parent) : QObject(parent) {}

DesktopAppearance::Preference DesktopAppearance::fromPortal(uint value) {
    switch (value) {
    case 1:
        return Preference::dark;
    case 2:
        return Preference::light;
    default:
        return Preference::none;
    }
}

QPalette DesktopAppearance::palette(Preference preference, const QPalette& platform) {
    switch (preference) {
    case Preference::dark:
        return FenraStyle::palette(ColorScheme::dark);
    case Preference::light:
        return FenraStyle::palette(ColorScheme::light);
    case Preference::none:
        break;
    }
    return platform;
}

void DesktopAppearance::start() {
    // One look on every desktop: the kit's style, and its palette in the
    // light or dark of the platform theme's.
    const ColorScheme platform = Appearance::scheme(QApplication::palette());
    if (dynamic_cast<FenraStyle*>(QApplication::style()) == nullptr) QApplication::setStyle(new FenraStyle);
    platform_ = FenraStyle::palette(platform);
    QApplication::setPalette(platform_);
    emit desktopSchemeChanged(desktopScheme());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    // The whole message: QtDBus does not resolve a slot taking a QDBusVariant
    // by name, and the connection then silently never happens.
    bus.connect(service, path, interface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QDBusMessage)));
    QDBusMessage read = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Read"));
    read << group << key;
    const QDBusMessage reply = bus.call(read, QDBus::Block, 2000);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        apply(fromPortal(unwrap(reply.arguments().first())));
}

void DesktopAppearance::settingChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() == 3 && arguments[0].toString() == group && arguments[1].toString() == key)
        apply(fromPortal(unwrap(arguments[2])));
}

void DesktopAppearance::apply(Preference preference) {
    preference_ = preference;
    QApplication::setPalette(palette(preference, platform_));
    emit desktopSchemeChanged(desktopScheme());
}

ColorScheme DesktopAppearance::desktopScheme() const {
    switch (preference_) {
    case Preference::dark:
        return ColorScheme::dark;
    case Preference::light:
        return ColorScheme::light;
    case Preference::none:
        break;
    }
    return Appearance::scheme(platform_);
}

}  // namespace kelto
