#pragma once

#include <QObject>
#include <QString>

namespace kelto {

// The process's in-process notices between parts that do not know each
// other: a wish to open the main window, and a wish to show a job. Posting
// tells the current listeners at once, on the posting thread (the GUI
// thread in practice).
class AppEvents : public QObject {
    Q_OBJECT

public:
    static AppEvents& shared();

    // "openSyncMainWindow".
    void postOpenMainWindow() { emit openMainWindowPosted(); }
    // "KeltoSync.openJob": `object` should be a job's UUID; listeners treat
    // anything else as no job.
    void postOpenJob(const QString& object) { emit openJobPosted(object); }

signals:
    void openMainWindowPosted();
    void openJobPosted(const QString& object);

private:
    AppEvents() = default;
};

}  // namespace kelto
