#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

namespace kelto {

// One running instance per user: a lock file and a local socket in the
// runtime folder. A later launch tells the running one to reopen its window
// and ends. GUI thread only.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `unreachable`: another instance holds the lock but does not answer;
    // starting anyway would run a second scheduler. `failed`: no lock could
    // be made at all (the runtime folder is unusable).
    enum class Claim { primary, forwarded, unreachable, failed };

    explicit SingleInstance(QString runtimeFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and listens (the lock alone makes this the primary);
    // or, when another instance holds it, sends it "reopen" (waiting up to
    // `patience` for it to listen).
    Claim claim(std::chrono::milliseconds patience = std::chrono::seconds(5));

    // Blocks until the process ends (a relaunch waits for its predecessor).
    static void waitForExit(qint64 pid);
    // "--relaunch-after <pid>", or 0.
    static qint64 relaunchAfter(const QStringList& arguments);

signals:
    void reopenRequested();

private:
    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace kelto
