#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QSplitter>

#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/Status/DeviceDot.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncModel/SyncJob.h"

#include <functional>
#include <map>
#include <optional>

class QListWidget;
class QMenu;
class QPushButton;
class QStackedWidget;

namespace kelto {

class AppModelAdapter;
class JobSidebarRow;

// The main window's content: the "Jobs" list beside the selected job's
// editor, or the empty state. Jobs are created in a sheet, deleted after a
// confirmation and paused from a row's menu; a job another part of the
// application asks for is selected; the model's skip and error surface as
// alerts. Everything goes through the model.
class JobListView : public QSplitter {
    Q_OBJECT

public:
    // Makes the job editor: the stored job (or the new one), whether it is
    // new, and what to call once a new job is saved.
    using EditorFactory = std::function<QWidget*(const SyncJob& original, bool isNew, std::function<void()> onSaved,
                                                 QWidget* parent)>;

    JobListView(AppModelAdapter& model, SyncStrings strings, EditorFactory editors,
                DeviceDot::Sources sources = DeviceDot::Sources::system(), QWidget* parent = nullptr);
    ~JobListView() override;

    // The job editor on the system's volumes and desktop; a new job's
    // editor closes its sheet when dismissed.
    static EditorFactory standardEditors(AppModelAdapter& model, SyncStrings strings);

    static SyncJob makeNewJob(const SyncStrings& strings, const QLocale& locale);

    const std::optional<Uuid>& selection() const { return selection_; }
    // Selects the job, or none. Showing another job leaves the editor's
    // draft first, which may ask; until it is left the list keeps showing
    // the job being edited.
    void select(std::optional<Uuid> jobID);
    // Leaves the drafts open here, the new-job sheet's first, then runs
    // `proceed`; `stay` when a person keeps one (see JobDetailView::leave).
    void leaveDrafts(std::function<void()> proceed, std::function<void()> stay = {});
    // Whether leaving would ask.
    bool holdsChanges() const;
    // Opens the new-job sheet with a fresh default job.
    void newJob();
    // Asks to delete the selected job.
    void confirmDelete();
    // The context menu of a job's row.
    QMenu* contextMenu(const SyncJob& job, QWidget* parent);

    // What is open now, for the window and its tests.
    QWidget* editor() const { return editor_; }
    QDialog* newJobSheet() const { return sheet_; }
    QMessageBox* skipAlert() const { return skipAlert_; }
    QMessageBox* deleteDialog() const { return deleteDialog_; }
    QMessageBox* errorAlert() const { return errorAlert_; }
    QListWidget* list() const { return list_; }
    QPushButton* deleteButton() const { return delete_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool busy(const Uuid& jobID) const;
    void applySelection(std::optional<Uuid> jobID);
    void showSelection();
    QWidget* sheetEditor() const;
    void rebuildList();
    void markSelection();
    void refreshRows();
    void refreshDetail();
    void refreshButtons();
    void applyRequestedJob();
    void showSkip();
    void showError();
    void setPauseFailed(QString text);

    AppModelAdapter* model_;
    SyncStrings strings_;
    EditorFactory editors_;
    DeviceDot::Sources sources_;
    std::optional<Uuid> selection_;
    std::optional<QString> error_;
    bool syncingList_ = false;

    QListWidget* list_;
    QPushButton* new_;
    QPushButton* delete_;
    QStackedWidget* detail_;
    QWidget* empty_;
    QWidget* editor_ = nullptr;
    std::optional<Uuid> editorJob_;
    std::map<Uuid, JobSidebarRow*> rows_;
    QMetaObject::Connection focusWatch_;
    QPointer<QDialog> sheet_;
    // The window whose closing leaves the drafts; a close they allowed
    // passes.
    QPointer<QWidget> window_;
    bool closeAllowed_ = false;
    QPointer<AlertBox> skipAlert_;
    QPointer<AlertBox> deleteDialog_;
    QPointer<AlertBox> errorAlert_;
};

}  // namespace kelto
