#include "Kelto_Sync/App/DesktopAppearance.h"

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

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2d), base(0x1e, 0x1e, 0x20), text(0xec, 0xec, 0xee);
    const QColor disabled(0x80, 0x80, 0x84), highlight(0x2f, 0x6f, 0xd6);
    for (const auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor fg = g == QPalette::Disabled ? disabled : text;
        p.setColor(g, QPalette::Window, window);
        p.setColor(g, QPalette::WindowText, fg);
        p.setColor(g, QPalette::Base, base);
        p.setColor(g, QPalette::AlternateBase, window.lighter(110));
        p.setColor(g, QPalette::ToolTipBase, window);
        p.setColor(g, QPalette::ToolTipText, text);
        p.setColor(g, QPalette::PlaceholderText, disabled);
        p.setColor(g, QPalette::Text, fg);
        p.setColor(g, QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
        p.setColor(g, QPalette::ButtonText, fg);
        p.setColor(g, QPalette::BrightText, Qt::white);
        p.setColor(g, QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
        p.setColor(g, QPalette::Midlight, QColor(0x40, 0x40, 0x44));
        p.setColor(g, QPalette::Mid, QColor(0x30, 0x30, 0x33));
        p.setColor(g, QPalette::Dark, QColor(0x18, 0x18, 0x1a));
        p.setColor(g, QPalette::Shadow, Qt::black);
        p.setColor(g, QPalette::Highlight, g == QPalette::Disabled ? disabled : highlight);
        p.setColor(g, QPalette::HighlightedText, Qt::white);
        p.setColor(g, QPalette::Link, QColor(0x6c, 0xa8, 0xff));
        p.setColor(g, QPalette::LinkVisited, QColor(0xb0, 0x8c, 0xff));
    }
    return p;
}

QPalette lightPalette() {
    QPalette p(QColor(0xec, 0xec, 0xec), QColor(0xf6, 0xf6, 0xf6));
    for (const auto g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::WindowText, Qt::black);
        p.setColor(g, QPalette::Text, Qt::black);
        p.setColor(g, QPalette::ButtonText, Qt::black);
        p.setColor(g, QPalette::Base, Qt::white);
        p.setColor(g, QPalette::Highlight, QColor(0x2f, 0x6f, 0xd6));
        p.setColor(g, QPalette::HighlightedText, Qt::white);
    }
    return p;
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
        return darkPalette();
    case Preference::light:
        return lightPalette();
    case Preference::none:
        break;
    }
    return platform;
}

void DesktopAppearance::start() {
    platform_ = QApplication::palette();
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
}

}  // namespace kelto
