#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include "tests/support/TemporaryFolder.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace kelto::test {

// The main thread of `pid` waits in poll or ppoll: its event loop runs and
// has handled what was posted before it started.
inline bool waitsInEventLoop(qint64 pid) {
    std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    return (syscall >> number) && (number == 7 || number == 271);
}

// An environment whose home, settings, data and runtime folders all lie in `home`, and no others.
inline QProcessEnvironment scratchEnvironment(const TemporaryFolder& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        environment.remove(QString::fromLatin1(name));
    }
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(home.path().string()));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString((home / "run").string()));
    return environment;
}

}  // namespace kelto::test
