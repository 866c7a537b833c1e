#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QFutureWatcher>
#include <QStringList>
#include <QWidget>

#include "Kelto_Sync/StatusViewActions.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncModel/Support/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

class QLabel;
class QMessageBox;
class QPushButton;

namespace kelto {

class AppModelAdapter;

// How much the job's archives take on the folders reachable now, how long
// they are kept, a way to open them, and "Clean now" after a confirmation.
// It loads when made and again after each new latest record of the job;
// the size is added up off the GUI thread. A failed load or clean shows its
// error and keeps the roots and size shown before.
class ArchiveStatusView : public QWidget {
    Q_OBJECT

public:
    ArchiveStatusView(AppModelAdapter& model, const Uuid& jobID, SyncStrings strings,
                      StatusViewActions actions = StatusViewActions::desktop(), QWidget* parent = nullptr);
    ~ArchiveStatusView() override;

    const std::vector<std::filesystem::path>& roots() const { return roots_; }
    std::int64_t bytes() const { return bytes_; }
    const std::optional<QString>& error() const { return error_; }
    bool cleaning() const { return cleaning_; }

    void load();
    // Asks "Delete all archived files?"; the dialog is opened, not run.
    void confirmClean();

signals:
    // After each load, good or failed.
    void loaded();
    // After each clean, good (and reloaded) or failed.
    void cleanFinished();

protected:
    void changeEvent(QEvent* event) override;

private:
    void lastRecordsChanged();
    void sized(std::uint64_t generation, std::int64_t total);
    void clean();
    void openArchives();
    // Says, once, that no file manager showed these places.
    void openFailed(std::uint64_t press, const QStringList& paths);
    void refresh();

    AppModelAdapter* model_;
    Uuid jobID_;
    SyncStrings strings_;
    StatusViewActions actions_;

    std::optional<Uuid> latestRecord_;
    // Only the newest load lands.
    std::uint64_t generation_ = 0;
    std::vector<std::filesystem::path> roots_;
    std::int64_t bytes_ = 0;
    std::optional<QString> error_;
    bool cleaning_ = false;
    std::stop_source walkStop_;
    QFutureWatcher<std::int64_t>* walk_ = nullptr;

    QLabel* header_;
    QLabel* title_;
    QLabel* size_;
    QPushButton* open_;
    QPushButton* clean_;
    // Under the buttons when a file manager did not show an archive, until
    // its alert is answered or the next press.
    QLabel* openFailed_;
    std::uint64_t opening_ = 0;
    bool openFailedShown_ = false;
    QLabel* errorLabel_;
};

}  // namespace kelto
