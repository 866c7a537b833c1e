#include "KeltoPermissions/SettingsLaunches.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

namespace kelto {
namespace {

// The parent of a process, from /proc; 0 once it cannot be read.
qint64 parentOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    // "pid (name) state ppid …": the name may hold spaces and parentheses.
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    if (end < 0) return 0;
    const QList<QByteArray> fields = line.mid(end + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

// The names a desktop file id goes by as a window class:
// "org.gnome.Nautilus.desktop" as "org.gnome.nautilus" and "nautilus".
QStringList namesOfDesktopFile(QString id) {
    id = id.trimmed().toLower();
    if (id.endsWith(QLatin1String(".desktop"))) id.chop(8);
    if (id.isEmpty()) return {};
    QStringList names{id};
    const QString last = id.section(QLatin1Char('.'), -1);
    if (last != id) names << last;
    return names;
}

}  // namespace

SettingsLaunches& SettingsLaunches::shared() {
    static SettingsLaunches launches;
    return launches;
}

void SettingsLaunches::add(const QStringList& names, qint64 pid) {
    for (const QString& name : names) {
        if (!name.isEmpty() && !names_.contains(name.toLower())) names_ << name.toLower();
    }
    if (pid > 0 && std::find(pids_.begin(), pids_.end(), pid) == pids_.end()) pids_.push_back(pid);
}

bool SettingsLaunches::owns(const DesktopWindows::Window& window) {
    if (names(window.program()) || (!window.instance.isEmpty() && names(window.instance.toLower()))) return true;
    if (pids_.empty() || window.pid <= 0 || strangers_.contains(window.pid)) return false;
    // Up the window's process tree, a few generations at most.
    qint64 pid = window.pid;
    for (int generation = 0; pid > 1 && generation < 8; ++generation, pid = parentOf(pid)) {
        if (std::find(pids_.begin(), pids_.end(), pid) != pids_.end()) {
            add({window.program()}, 0);
            return true;
        }
    }
    strangers_.insert(window.pid);
    return false;
}

bool SettingsLaunches::names(const QString& program) const { return names_.contains(program.toLower()); }

void SettingsLaunches::started(const QStringList& command, qint64 pid) {
    if (command.isEmpty()) return;
    const QString program = QFileInfo(command.first()).fileName();
    add({program}, pid);
    strangers_.clear();
    if (program != QLatin1String("xdg-open") || command.size() < 2 || !QFileInfo(command[1]).isDir()) return;
    // The file manager that shows the folder is the desktop's default for
    // folders; xdg-mime names it without keeping the GUI thread waiting.
    auto* query = new QProcess(QCoreApplication::instance());
    QObject::connect(query, &QProcess::finished, query, [this, query](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0) {
            add(namesOfDesktopFile(QString::fromUtf8(query->readAllStandardOutput())), 0);
        }
        query->deleteLater();
    });
    QObject::connect(query, &QProcess::errorOccurred, query, [query](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) query->deleteLater();
    });
    query->start(QStringLiteral("xdg-mime"),
                 {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("inode/directory")});
}

}  // namespace kelto
