#include "KeltoPermissions/LoginItemProbe.h"

#include "Platform/Desktop/AutostartEntry.h"
#include "Platform/Desktop/AutostartEntryError.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace kelto {
namespace {

// The program a command starts: a path as it is, a bare name on PATH.
QString resolvedProgram(const QString& program) {
    if (!program.contains(u'/')) return QStandardPaths::findExecutable(program);
    const QFileInfo file(program);
    return file.isFile() && file.isExecutable() ? file.canonicalFilePath() : QString();
}

}  // namespace

LoginItemState LoginItemProbe::state(const LoginItem& item) {
    std::optional<AutostartEntry> entry;
    try {
        entry = AutostartEntry::read(item.entryPath);
    } catch (const AutostartEntryError&) {
        return LoginItemState::unreadable;
    }
    if (!entry || entry->hidden || !entry->enabled) return LoginItemState::notRegistered;
    if (!entry->command || entry->command->isEmpty()) return LoginItemState::notFound;
    const QString program = resolvedProgram(entry->command->first());
    if (program.isEmpty()) return LoginItemState::notFound;
    const QString ours = QFileInfo(item.executable).canonicalFilePath();
    return QFileInfo(program).canonicalFilePath() == ours ? LoginItemState::enabled : LoginItemState::notRegistered;
}

PermissionStatus LoginItemProbe::permissionStatus(LoginItemState state) {
    switch (state) {
    case LoginItemState::enabled: return PermissionStatus::granted;
    case LoginItemState::notRegistered:
    case LoginItemState::notFound: return PermissionStatus::missing;
    case LoginItemState::unreadable: return PermissionStatus::unverifiable;
    }
    return PermissionStatus::unverifiable;
}

void LoginItemProbe::registerItem(const LoginItem& item) {
    AutostartEntry::write(item.entryPath, item.name, item.command());
}

}  // namespace kelto
