#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QPointer>
#include <QWidget>

#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/Editor/FoldersSection.h"
#include "Kelto_Sync/JobOverviewView.h"
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/StatusViewActions.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/RunStatus.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/ValidationReport.h"

#include <functional>
#include <optional>

class QAction;
class QAbstractButton;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace kelto {

class AppModelAdapter;
class ArchiveSafetySection;
class BusyIndicator;
class FiltersSection;
class MainExecutor;
class ModeSection;
class SimpleWhenSection;
class TriggersSection;

// The editor of one job: a draft copy that the form sections edit, checked
// by the model's validator after every change, stored only by "Save" or
// "Create". An existing job also has its Overview tab, a menu that pauses
// or resumes its automatic runs, and the review of a run parked for
// confirmation. Model changes refresh what is shown but never rebuild the
// form or touch the draft (except its enabled flag, which follows the
// stored job).
//
// Validation is coalesced: at most one request is in flight; a draft that
// changed meanwhile is sent once that answer is in, and only the answer for
// the newest revision is kept.
class JobDetailView : public QWidget {
    Q_OBJECT

public:
    // What the host supplies; the defaults use the desktop and the disk.
    struct Services {
        FoldersSection::Services folders;
        JobOverviewView::Parts overviewParts;
        StatusViewActions actions;
        const Clock* clock;
        // Where the review's delays run; none: Qt's timers.
        MainExecutor* timers = nullptr;
        // The volume inspector, the file dialog, the desktop, the system clock.
        static Services system();
    };

    static constexpr const char* advancedExpandedKey = "editor.advancedExpanded";

    JobDetailView(AppModelAdapter& model, SyncJob original, bool isNew, SyncStrings strings,
                  std::function<void()> onSaved = {}, QWidget* parent = nullptr, Services services = Services::system());
    ~JobDetailView() override;

    const SyncJob& draft() const { return draft_; }
    const ValidationReport& validation() const { return validation_; }
    bool isValidating() const { return validating_; }
    bool isSaving() const { return saving_; }
    std::optional<QString> error() const { return error_; }
    bool settingsSelected() const { return settingsSelected_; }
    // The stored job, or the original while the model lists none.
    SyncJob currentJob() const;
    bool isRunning() const;
    bool hasChanges() const;
    // A localisation key, or none.
    std::optional<QString> statusMessage() const;
    std::optional<QString> reviewReason() const;
    int advancedCount() const;
    bool advancedExpanded() const;
    // Validations asked of the model so far.
    int validationsStarted() const { return validationsStarted_; }

    void setSettingsSelected(bool selected);
    void setAdvancedExpanded(bool expanded);
    // The draft as a control would set it.
    void editDraft(const SyncJob& next);

    void save();
    void revert();
    void cancel();
    void toggleAutomaticRuns();
    void startPreview();
    void resetAdvanced();
    void openAdvanced();
    // Every way out of the editor comes here first. An unchanged draft
    // leaves at once; a changed one asks whether to save it, discard it or
    // stay. `proceed` runs once the draft is saved or discarded; `stay` when
    // the person stays or the save fails, whose failure the editor then
    // shows. A newer way out, asked while the question is open, takes the
    // older one's place.
    void leave(std::function<void()> proceed, std::function<void()> stay = {});

    // Controls, for the window and for tests.
    QLineEdit* nameField() const { return name_; }
    QLabel* nameCaption() const { return nameCaption_; }
    QToolButton* actionsButton() const { return actionsButton_; }
    QAction* pauseAction() const { return pause_; }
    QPushButton* overviewTab() const { return overviewTab_; }
    QPushButton* settingsTab() const { return settingsTab_; }
    JobOverviewView* overview() const { return overview_; }
    QWidget* form() const { return form_; }
    FoldersSection* foldersSection() const { return folders_; }
    SimpleWhenSection* whenSection() const { return when_; }
    QWidget* advancedGroup() const { return advanced_; }
    QToolButton* advancedToggle() const { return advancedToggle_; }
    QLabel* advancedBadge() const { return badge_; }
    QWidget* advancedContent() const { return advancedContent_; }
    QPushButton* resetButton() const { return reset_; }
    QWidget* warningRows() const { return warnings_; }
    QLabel* errorLine() const { return errorLine_; }
    QWidget* footer() const { return footer_; }
    QLabel* statusLabel() const { return statusLabel_; }
    BusyIndicator* progress() const { return progress_; }
    QPushButton* secondaryButton() const { return secondary_; }
    QPushButton* primaryButton() const { return primary_; }
    PreviewSheet* sheet() const { return sheet_; }
    AlertBox* leaveQuestion() const { return question_; }

signals:
    // "Cancel" on a new job: whoever shows the editor closes it.
    void dismissed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildForm();
    QWidget* buildAdvanced(QWidget* parent);
    QWidget* buildFooter();
    void draftDidChange();
    void validate();
    void followModel();
    void statusDidChange(const std::optional<RunStatus>& status);
    void showSheet(const SyncPlan& plan);
    void closeSheet();
    void continueReview(const std::shared_ptr<const SyncPlan>& shown);
    // The reviewed run no longer waits: the open sheet is withdrawn.
    void reviewGone();
    void dismissPreview();
    void answerLeave(QAbstractButton* chosen);
    void saveToLeave();
    void finishLeaving(bool left);
    void pushDraft();
    void refresh();
    void refreshTexts();
    void refreshWarnings();
    QString text(const QString& english) const;

    AppModelAdapter* model_;
    SyncJob original_;
    bool isNew_;
    SyncStrings strings_;
    std::function<void()> onSaved_;
    Services services_;

    SyncJob draft_;
    ValidationReport validation_;
    bool validating_ = true;
    long long validationRevision_ = 0;
    bool validationInFlight_ = false;
    int validationsStarted_ = 0;
    bool saving_ = false;
    // A pause or resume is waiting for the model.
    bool pausing_ = false;
    std::optional<QString> error_;
    // The plan shown in the sheet; for a review, the one the status showed.
    std::shared_ptr<const SyncPlan> preview_;
    bool previewing_ = false;
    bool reviewing_ = false;
    bool settingsSelected_ = false;
    std::optional<RunStatus> lastStatus_;
    bool lastEnabled_;
    std::optional<SyncJob> shownJob_;
    std::vector<ValidationWarning> shownWarnings_;

    QLineEdit* name_ = nullptr;
    QLabel* nameCaption_ = nullptr;
    QToolButton* actionsButton_ = nullptr;
    QAction* pause_ = nullptr;
    QButtonGroup* tabs_ = nullptr;
    QPushButton* overviewTab_ = nullptr;
    QPushButton* settingsTab_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    JobOverviewView* overview_ = nullptr;
    QScrollArea* formScroll_ = nullptr;
    QWidget* form_ = nullptr;
    FoldersSection* folders_ = nullptr;
    ModeSection* mode_ = nullptr;
    SimpleWhenSection* when_ = nullptr;
    QWidget* advanced_ = nullptr;
    QToolButton* advancedToggle_ = nullptr;
    QLabel* badge_ = nullptr;
    QWidget* advancedContent_ = nullptr;
    TriggersSection* triggers_ = nullptr;
    FiltersSection* filters_ = nullptr;
    ArchiveSafetySection* archive_ = nullptr;
    QPushButton* reset_ = nullptr;
    QWidget* warnings_ = nullptr;
    QVBoxLayout* warningsLayout_ = nullptr;
    QLabel* errorLine_ = nullptr;
    QWidget* footer_ = nullptr;
    QWidget* statusRow_ = nullptr;
    BusyIndicator* progress_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* secondary_ = nullptr;
    QPushButton* primary_ = nullptr;
    QPointer<PreviewSheet> sheet_;

    // The way out waiting for the question's answer or for the save it chose.
    struct Leaving {
        std::function<void()> proceed;
        std::function<void()> stay;
    };
    std::optional<Leaving> leaving_;
    bool savingToLeave_ = false;
    QPointer<AlertBox> question_;
};

}  // namespace kelto
