#include "Platform/Desktop/AutostartEntry.h"

#include "Platform/Desktop/AutostartEntryError.h"
#include "Platform/Desktop/DesktopEntryExec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace kelto {
namespace {

bool isFalse(const QString& value) {
    return value.trimmed() == u"false";
}

// The rename that replaced the file lasts only once its folder is on disk.
void syncFolder(const QString& folder) {
    const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

}  // namespace

QString AutostartEntry::folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString AutostartEntry::path(const QString& fileName) {
    return folder() + u'/' + fileName;
}

std::optional<AutostartEntry> AutostartEntry::read(const QString& path) {
    if (!QFileInfo::exists(path)) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        throw AutostartEntryError(AutostartEntryError::Code::unreadable, path, file.errorString());
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw AutostartEntryError(AutostartEntryError::Code::unreadable, path, file.errorString());
    }

    AutostartEntry entry;
    bool inGroup = false;
    for (const QString& rawLine : QString::fromUtf8(content).split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        if (line.startsWith(u'[')) {
            inGroup = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inGroup || equals < 0) continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == u"Hidden") {
            entry.hidden = value == u"true";
        } else if (key == u"X-GNOME-Autostart-enabled") {
            entry.enabled = !isFalse(value);
        } else if (key == u"Exec") {
            entry.command = DesktopEntryExec::parse(value);
        }
    }
    return entry;
}

void AutostartEntry::write(const QString& path, const QString& name, const QStringList& command) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw AutostartEntryError(AutostartEntryError::Code::notWritten, path,
                                  QStringLiteral("its folder could not be made"));
    }
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    // Names are plain strings: the same escapes as any value, no quoting.
    QString escapedName = name;
    escapedName.replace(u'\\', QStringLiteral("\\\\")).replace(u'\n', QStringLiteral("\\n"));
    text += QStringLiteral("Name=") + escapedName + u'\n';
    text += QStringLiteral("Exec=") + DesktopEntryExec::quote(command) + u'\n';
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        throw AutostartEntryError(AutostartEntryError::Code::notWritten, path, file.errorString());
    }
    syncFolder(folder);
}

}  // namespace kelto
