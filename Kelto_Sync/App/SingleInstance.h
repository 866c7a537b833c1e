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
    // be made at all (the runtime folder is unusable). `refused`: the folder
    // is not the user's alone, so nothing was made in it. After these two
    // refusal() says why, in words for the user.
    enum class Claim { primary, forwarded, unreachable, failed, refused };

    // `shared`: the folder lies where other users may make it first (the
    // temporary folder): it is made private to the user (one of the user's
    // own loses others' access), and one of another user, one holding an item
    // of another user, a link or anything but a folder in its place is
    // refused.
    explicit SingleInstance(QString runtimeFolder, bool shared = false, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and listens (the lock alone makes this the primary);
    // or, when another instance holds it, sends it "reopen" (waiting up to
    // `patience` for it to listen).
    Claim claim(std::chrono::milliseconds patience = std::chrono::seconds(5));

    // Blocks until the process ends (a relaunch waits for its predecessor).
    static void waitForExit(qint64 pid);
    // "--relaunch-after <pid>", or 0.
    static qint64 relaunchAfter(const QStringList& arguments);

    // Why the last claim left the application without the check (refused or
    // failed): the folder and what is wrong with it.
    QString refusal() const { return refusal_; }

signals:
    void reopenRequested();

private:
    QString folder_;
    bool shared_;
    QString refusal_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace kelto
