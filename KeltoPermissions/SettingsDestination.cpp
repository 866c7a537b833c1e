#include "KeltoPermissions/SettingsDestination.h"

namespace kelto {
namespace {

std::vector<QStringList> kdeModule(const QString& module) {
    return {{QStringLiteral("systemsettings"), module},
            {QStringLiteral("kcmshell6"), module},
            {QStringLiteral("kcmshell5"), module}};
}

}  // namespace

SettingsDestination SettingsDestination::privacy(PrivacyAnchor anchor) {
    return {Kind::privacy, anchor, {}};
}

SettingsDestination SettingsDestination::notifications(const QString& bundleID) {
    return {Kind::notifications, PrivacyAnchor::allFiles, bundleID};
}

SettingsDestination SettingsDestination::keyboardShortcuts() {
    return {Kind::keyboardShortcuts, PrivacyAnchor::allFiles, {}};
}

SettingsDestination SettingsDestination::loginItems() {
    return {Kind::loginItems, PrivacyAnchor::allFiles, {}};
}

std::vector<QStringList> SettingsDestination::candidateCommands(DesktopKind desktop) const {
    const QString gnome = QStringLiteral("gnome-control-center");
    switch (kind) {
    case Kind::privacy:
        return {};
    case Kind::notifications:
        switch (desktop) {
        case DesktopKind::gnome: return {{gnome, QStringLiteral("notifications")}};
        case DesktopKind::kde: return kdeModule(QStringLiteral("kcm_notifications"));
        case DesktopKind::xfce: return {{QStringLiteral("xfce4-notifyd-config")}};
        case DesktopKind::other: return {};
        }
        break;
    case Kind::keyboardShortcuts:
        switch (desktop) {
        case DesktopKind::gnome: return {{gnome, QStringLiteral("keyboard")}};
        case DesktopKind::kde: return kdeModule(QStringLiteral("kcm_keys"));
        case DesktopKind::xfce: return {{QStringLiteral("xfce4-keyboard-settings")}};
        case DesktopKind::other: return {};
        }
        break;
    case Kind::loginItems:
        switch (desktop) {
        case DesktopKind::gnome:
            return {{QStringLiteral("gnome-session-properties")}, {QStringLiteral("gnome-tweaks")}};
        case DesktopKind::kde: return kdeModule(QStringLiteral("kcm_autostart"));
        case DesktopKind::xfce: return {{QStringLiteral("xfce4-session-settings")}};
        case DesktopKind::other: return {};
        }
        break;
    }
    return {};
}

bool operator==(const SettingsDestination& a, const SettingsDestination& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case SettingsDestination::Kind::privacy: return a.anchor == b.anchor;
    case SettingsDestination::Kind::notifications: return a.bundleID == b.bundleID;
    default: return true;
    }
}

}  // namespace kelto
