#include "KeltoPermissions/SettingsOpener.h"

#include "KeltoPermissions/SettingsLaunches.h"
#include "Platform/Desktop/AutostartEntry.h"
#include "Platform/Desktop/ProgramLauncher.h"

#include <QDir>
#include <QStandardPaths>

namespace kelto {

SettingsOpener SettingsOpener::system() {
    // What starts is recorded, so that the companion finds its window.
    const auto launch = [](const QStringList& command) {
        qint64 pid = 0;
        if (!ProgramLauncher::start(command, nullptr, &pid)) return false;
        SettingsLaunches::shared().started(command, pid);
        return true;
    };
    return {launch, DesktopKinds::current(), AutostartEntry::folder()};
}

bool SettingsOpener::open(const SettingsDestination& destination) const {
    for (const QStringList& command : destination.candidateCommands(desktop)) {
        if (launch(command)) return true;
    }
    if (destination.kind == SettingsDestination::Kind::loginItems) {
        // xdg-open shows a folder only once it exists; the entry goes there anyway.
        QDir().mkpath(autostartFolder);
        return launch({QStringLiteral("xdg-open"), autostartFolder});
    }
    const QStringList fallback = settingsProgram(desktop);
    return !fallback.isEmpty() && launch(fallback);
}

QStringList SettingsOpener::settingsPrograms() {
    return {QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings"),
            QStringLiteral("xfce4-settings-manager")};
}

QStringList SettingsOpener::settingsProgram(DesktopKind desktop) {
    const QStringList programs = settingsPrograms();
    const QString& gnome = programs[0];
    const QString& kde = programs[1];
    const QString& xfce = programs[2];
    switch (desktop) {
    case DesktopKind::gnome: return {gnome};
    case DesktopKind::kde: return {kde};
    case DesktopKind::xfce: return {xfce};
    case DesktopKind::other: break;
    }
    for (const QString& program : {gnome, kde, xfce}) {
        if (!QStandardPaths::findExecutable(program).isEmpty()) return {program};
    }
    return {};
}

}  // namespace kelto
