#include "Kelto_Sync/Editor/JobDetailView.h"

#include "FenraCore/BusyIndicator.h"
#include "FenraCore/WindowPlacement.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraLabel.h"
#include "FenraCore/PaletteTone.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Editor/ArchiveSafetySection.h"
#include "Kelto_Sync/Editor/FiltersSection.h"
#include "Kelto_Sync/Editor/ModeSection.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/Editor/TriggersSection.h"
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/internal/NameField.h"
#include "SyncAutomation/AppModelError.h"
#include "SyncModel/JobPresentation.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace kelto {
namespace {

constexpr int defaultPadding = 11;

QLabel* plainLabel(const char* name, QWidget* parent, FontRole role = FontRole::caption, QLabel* label = nullptr) {
    if (label == nullptr) label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(FenraFont::font(role));
    return label;
}

// Text on a faint grey capsule, drawn rather than styled: a style sheet
// fixes a widget's palette when it is polished, and its text would keep
// the look it was made in.
class Badge : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            QPainterPath capsule;
            capsule.addRoundedRect(QRectF(rect()), 9, 9);
            painter.fillPath(capsule, QColor(128, 128, 128, 40));
        }
        QLabel::paintEvent(event);
    }
};

}  // namespace

JobDetailView::Services JobDetailView::Services::system() {
    return Services{FoldersSection::Services::system(), {}, StatusViewActions::desktop(), &SystemClock::shared()};
}

JobDetailView::JobDetailView(AppModelAdapter& model, SyncJob original, bool isNew, SyncStrings strings,
                             std::function<void()> onSaved, QWidget* parent, Services services)
    : QWidget(parent),
      model_(&model),
      original_(std::move(original)),
      isNew_(isNew),
      strings_(strings),
      onSaved_(std::move(onSaved)),
      services_(std::move(services)),
      draft_(original_) {
    setObjectName(QStringLiteral("jobDetail"));
    lastEnabled_ = currentJob().isEnabled;
    if (const RunStatus* status = model_->status(draft_.id)) lastStatus_ = *status;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    nameCaption_ = plainLabel("nameCaption", this);
    nameCaption_->setContentsMargins(defaultPadding, 0, defaultPadding, 4);
    PaletteTone::apply(nameCaption_, FenraTheme::error());
    layout->addWidget(nameCaption_);

    stack_ = new QStackedWidget(this);
    if (!isNew_) {
        overview_ = new JobOverviewView(*model_, currentJob(), strings_, [this] { startPreview(); },
                                        services_.overviewParts, services_.actions, *services_.clock, stack_);
        overview_->setObjectName(QStringLiteral("overview"));
        stack_->addWidget(overview_);
        shownJob_ = currentJob();
    }
    formScroll_ = new QScrollArea(stack_);
    formScroll_->setObjectName(QStringLiteral("settings"));
    formScroll_->setWidgetResizable(true);
    formScroll_->setFrameShape(QFrame::NoFrame);
    formScroll_->setWidget(buildForm());
    stack_->addWidget(formScroll_);
    layout->addWidget(stack_, 1);

    errorLine_ = plainLabel("errorLine", this, FontRole::body);
    errorLine_->setWordWrap(true);
    errorLine_->setContentsMargins(defaultPadding, 4, defaultPadding, 4);
    PaletteTone::apply(errorLine_, FenraTheme::error());
    layout->addWidget(errorLine_);
    layout->addWidget(buildFooter());

    auto* saveShortcut = new QShortcut(QKeySequence::Save, this);
    saveShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(saveShortcut, &QShortcut::activated, this, [this] {
        if (!isNew_ && footer_->isVisible() && primary_->isEnabled()) save();
    });

    connect(model_, &AppModelAdapter::jobsChanged, this, &JobDetailView::followModel);
    connect(model_, &AppModelAdapter::statusesChanged, this, &JobDetailView::followModel);
    connect(model_, &AppModelAdapter::lastRecordsChanged, this, [this] {
        // The runner parks a run before its record arrives: an open review takes the newest reason.
        if (sheet_ != nullptr && reviewing_) sheet_->setReason(reviewReason());
        refresh();
    });

    pushDraft();
    refreshTexts();
    validate();
    statusDidChange(lastStatus_);
}

JobDetailView::~JobDetailView() {
    // The sheet goes without a word: closing the editor answers no review.
    delete sheet_.data();
}

QWidget* JobDetailView::buildHeader() {
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("header"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    row->setSpacing(8);
    name_ = new NameField(header);
    name_->setObjectName(QStringLiteral("name"));
    name_->setFont(FenraFont::font(FontRole::title2));
    name_->setFrame(false);
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& typed) {
        SyncJob next = draft_;
        next.name = typed.toStdString();
        editDraft(next);
    });
    row->addWidget(name_, 1);
    if (isNew_) return header;

    tabs_ = new QButtonGroup(header);
    tabs_->setExclusive(true);
    auto* tabRow = new QHBoxLayout;
    tabRow->setSpacing(0);
    overviewTab_ = new QPushButton(header);
    overviewTab_->setObjectName(QStringLiteral("overviewTab"));
    settingsTab_ = new QPushButton(header);
    settingsTab_->setObjectName(QStringLiteral("settingsTab"));
    for (QPushButton* tab : {overviewTab_, settingsTab_}) {
        tab->setCheckable(true);
        tab->setAutoDefault(false);
        tabs_->addButton(tab);
        tabRow->addWidget(tab);
    }
    overviewTab_->setChecked(true);
    connect(overviewTab_, &QPushButton::clicked, this, [this] { setSettingsSelected(false); });
    connect(settingsTab_, &QPushButton::clicked, this, [this] { setSettingsSelected(true); });
    row->addLayout(tabRow);

    actionsButton_ = new QToolButton(header);
    actionsButton_->setObjectName(QStringLiteral("jobActions"));
    actionsButton_->setIcon(
        SymbolImage::icon(FenraIcon::more, palette().color(QPalette::Active, QPalette::ButtonText)));
    actionsButton_->setAutoRaise(true);
    actionsButton_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(actionsButton_);
    menu->setToolTipsVisible(true);
    pause_ = menu->addAction(QString());
    pause_->setObjectName(QStringLiteral("pause"));
    connect(pause_, &QAction::triggered, this, &JobDetailView::toggleAutomaticRuns);
    actionsButton_->setMenu(menu);
    row->addWidget(actionsButton_);
    return header;
}

QWidget* JobDetailView::buildForm() {
    form_ = new QWidget;
    form_->setObjectName(QStringLiteral("form"));
    auto* layout = new QVBoxLayout(form_);
    layout->setContentsMargins(16, 8, 16, 16);
    layout->setSpacing(18);
    const auto report = [this](const SyncJob& next) { editDraft(next); };
    folders_ = new FoldersSection(strings_, report, services_.folders, form_);
    mode_ = new ModeSection(strings_, report, form_);
    std::function<void()> editAdvanced;
    if (!isNew_) editAdvanced = [this] { openAdvanced(); };
    when_ = new SimpleWhenSection(strings_, report, editAdvanced, form_);
    layout->addWidget(folders_);
    layout->addWidget(mode_);
    layout->addWidget(when_);
    if (!isNew_) layout->addWidget(buildAdvanced(form_));
    warnings_ = new QWidget(form_);
    warnings_->setObjectName(QStringLiteral("warnings"));
    warningsLayout_ = new QVBoxLayout(warnings_);
    warningsLayout_->setContentsMargins(0, 0, 0, 0);
    warningsLayout_->setSpacing(6);
    warnings_->hide();
    layout->addWidget(warnings_);
    layout->addStretch(1);
    return form_;
}

QWidget* JobDetailView::buildAdvanced(QWidget* parent) {
    advanced_ = new QWidget(parent);
    advanced_->setObjectName(QStringLiteral("advanced"));
    auto* layout = new QVBoxLayout(advanced_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* label = new QHBoxLayout;
    advancedToggle_ = new QToolButton(advanced_);
    advancedToggle_->setObjectName(QStringLiteral("advancedToggle"));
    advancedToggle_->setCheckable(true);
    advancedToggle_->setAutoRaise(true);
    advancedToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    advancedToggle_->setFont(FenraFont::font(FontRole::headline));
    connect(advancedToggle_, &QToolButton::clicked, this, [this](bool on) { setAdvancedExpanded(on); });
    badge_ = plainLabel("advancedBadge", advanced_, FontRole::caption, new Badge(advanced_));
    badge_->setContentsMargins(8, 3, 8, 3);
    label->addWidget(advancedToggle_);
    label->addStretch(1);
    label->addWidget(badge_);
    layout->addLayout(label);

    advancedContent_ = new QWidget(advanced_);
    advancedContent_->setObjectName(QStringLiteral("advancedContent"));
    auto* content = new QVBoxLayout(advancedContent_);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(18);
    const auto report = [this](const SyncJob& next) { editDraft(next); };
    triggers_ = new TriggersSection(strings_, report, advancedContent_);
    filters_ = new FiltersSection(strings_, report, advancedContent_);
    archive_ = new ArchiveSafetySection(strings_, report, advancedContent_);
    content->addWidget(triggers_);
    content->addWidget(filters_);
    content->addWidget(archive_);
    const QString resetTitle = text(QStringLiteral("Reset advanced to defaults"));
    auto* resetRow = new SettingsRow(resetTitle, std::nullopt, [this, resetTitle]() -> QWidget* {
        reset_ = new QPushButton(resetTitle);
        reset_->setObjectName(QStringLiteral("resetAdvanced"));
        reset_->setAutoDefault(false);
        connect(reset_, &QPushButton::clicked, this, &JobDetailView::resetAdvanced);
        return reset_;
    });
    // In a box with the sections' margins, so that it lines up with their rows.
    auto* resetBox = new QWidget(advancedContent_);
    auto* resetLayout = new QVBoxLayout(resetBox);
    resetLayout->addWidget(resetRow);
    content->addWidget(resetBox);
    layout->addWidget(advancedContent_);
    return advanced_;
}

QWidget* JobDetailView::buildFooter() {
    footer_ = new QWidget(this);
    footer_->setObjectName(QStringLiteral("footer"));
    auto* outer = new QVBoxLayout(footer_);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* divider = new QFrame(footer_);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    outer->addWidget(divider);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, 16, 16, 16);
    body->setSpacing(8);
    outer->addLayout(body);

    statusRow_ = new QWidget(footer_);
    auto* status = new QHBoxLayout(statusRow_);
    status->setContentsMargins(0, 0, 0, 0);
    status->setSpacing(8);
    progress_ = new BusyIndicator(BusyIndicator::small, statusRow_);
    progress_->setObjectName(QStringLiteral("validatingIndicator"));
    statusLabel_ = plainLabel("statusMessage", statusRow_);
    statusLabel_->setWordWrap(true);
    PaletteTone::apply(statusLabel_, FenraTheme::textSecondary());
    status->addWidget(progress_, 0, Qt::AlignTop);
    status->addWidget(statusLabel_, 1, Qt::AlignTop);
    body->addWidget(statusRow_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    secondary_ = new QPushButton(footer_);
    secondary_->setObjectName(isNew_ ? QStringLiteral("cancel") : QStringLiteral("revert"));
    primary_ = new QPushButton(footer_);
    primary_->setObjectName(isNew_ ? QStringLiteral("create") : QStringLiteral("save"));
    for (QPushButton* button : {secondary_, primary_}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    KeltoPrimaryButtonStyle::apply(*primary_);
    connect(secondary_, &QPushButton::clicked, this, [this] { isNew_ ? cancel() : revert(); });
    connect(primary_, &QPushButton::clicked, this, &JobDetailView::save);
    body->addLayout(buttons);
    return footer_;
}

SyncJob JobDetailView::currentJob() const {
    const SyncJob* stored = model_->job(draft_.id);
    return stored != nullptr ? *stored : original_;
}

bool JobDetailView::isRunning() const { return model_->status(draft_.id) != nullptr; }

bool JobDetailView::hasChanges() const {
    const SyncJob* stored = model_->job(draft_.id);
    return !(draft_ == (stored != nullptr ? *stored : original_));
}

std::optional<QString> JobDetailView::statusMessage() const {
    if (isRunning()) return QStringLiteral("A run is in progress.");
    if (saving_) return QStringLiteral("Saving…");
    if (validating_) return QStringLiteral("Validating folders…");
    if (!validation_.errors.empty()) return SyncStrings::computedKey("validation.", validation_.errors.front());
    const bool weekdayMissing = std::any_of(draft_.triggers.begin(), draft_.triggers.end(), [](const Trigger& t) {
        const auto* weekly = t.as<Trigger::Weekly>();
        return weekly != nullptr && weekly->weekdays.empty();
    });
    if (weekdayMissing) return QStringLiteral("Choose at least one weekday.");
    return std::nullopt;
}

std::optional<QString> JobDetailView::reviewReason() const {
    const RunRecord* record = model_->lastRecord(draft_.id);
    if (record == nullptr || record->outcome.kind != RunOutcome::Case::needsReview) return std::nullopt;
    return QString::fromStdString(record->outcome.message);
}

int JobDetailView::advancedCount() const { return JobPresentation::advancedSettingsCount(draft_); }

bool JobDetailView::advancedExpanded() const {
    return QSettings().value(QLatin1String(advancedExpandedKey), false).toBool();
}

void JobDetailView::setAdvancedExpanded(bool expanded) {
    QSettings().setValue(QLatin1String(advancedExpandedKey), expanded);
    refresh();
}

void JobDetailView::openAdvanced() { setAdvancedExpanded(true); }

void JobDetailView::setSettingsSelected(bool selected) {
    settingsSelected_ = selected;
    refresh();
}

void JobDetailView::editDraft(const SyncJob& next) {
    if (next == draft_) return;
    draft_ = next;
    pushDraft();
    draftDidChange();
}

void JobDetailView::pushDraft() {
    // Sections rewrite only controls that show another value, so a field
    // being typed in keeps its text and cursor.
    const QString name = QString::fromStdString(draft_.name);
    if (name_->text() != name) name_->setText(name);
    for (EditorSection* section : std::initializer_list<EditorSection*>{folders_, mode_, when_, triggers_, filters_, archive_}) {
        if (section != nullptr) section->setJob(draft_);
    }
}

void JobDetailView::draftDidChange() {
    validating_ = true;
    ++validationRevision_;
    // The validator walks the source tree: while one request is out, later
    // drafts wait and only the newest is sent when it answers.
    if (!validationInFlight_) validate();
    refresh();
}

void JobDetailView::validate() {
    validating_ = true;
    validationInFlight_ = true;
    ++validationsStarted_;
    const long long revision = validationRevision_;
    model_->validate(draft_, this, [this, revision](ValidationReport report) {
        validationInFlight_ = false;
        if (revision != validationRevision_) {
            validate();
            return;
        }
        validation_ = std::move(report);
        validating_ = false;
        folders_->setValidation(validation_.errors);
        refresh();
    });
}

void JobDetailView::save() {
    // A pause on its way would be undone by the draft's older flag.
    if (saving_ || pausing_) return;
    saving_ = true;
    refresh();
    auto done = [this](Result<void> result) {
        saving_ = false;
        if (result.hasValue()) {
            error_.reset();
            refresh();
            QPointer<JobDetailView> self(this);
            if (onSaved_) onSaved_();
            if (self && std::exchange(savingToLeave_, false)) finishLeaving(true);
            return;
        }
        try {
            std::rethrow_exception(result.error());
        } catch (const AppModelError& e) {
            if (e.code() == AppModelError::Code::invalidJob) {
                validation_ = e.report();
                folders_->setValidation(validation_.errors);
            } else {
                error_ = AppModelAdapter::describe(result.error());
            }
        } catch (...) {
            error_ = AppModelAdapter::describe(result.error());
        }
        refresh();
        if (std::exchange(savingToLeave_, false)) finishLeaving(false);
    };
    if (isNew_) {
        model_->addJob(draft_, this, std::move(done));
    } else {
        model_->updateJob(draft_, this, std::move(done));
    }
}

void JobDetailView::revert() { editDraft(currentJob()); }

void JobDetailView::cancel() { emit dismissed(); }

void JobDetailView::toggleAutomaticRuns() {
    // The stored job, not the draft: unsaved edits stay unsaved.
    if (saving_ || pausing_) return;
    SyncJob stored = currentJob();
    stored.isEnabled = !stored.isEnabled;
    const bool enabled = stored.isEnabled;
    pausing_ = true;
    refresh();
    model_->updateJob(stored, this, [this, enabled](Result<void> result) {
        pausing_ = false;
        if (!result.hasValue()) {
            error_ = AppModelAdapter::describe(result.error());
        } else if (draft_.isEnabled != enabled) {
            SyncJob next = draft_;
            next.isEnabled = enabled;
            editDraft(next);
        }
        refresh();
        if (savingToLeave_) saveToLeave();
    });
}

void JobDetailView::followModel() {
    const SyncJob current = currentJob();
    if (current.isEnabled != lastEnabled_) {
        lastEnabled_ = current.isEnabled;
        if (draft_.isEnabled != current.isEnabled) {
            SyncJob next = draft_;
            next.isEnabled = current.isEnabled;
            editDraft(next);
        }
    }
    std::optional<RunStatus> status;
    if (const RunStatus* now = model_->status(draft_.id)) status = *now;
    if (status != lastStatus_) {
        lastStatus_ = status;
        statusDidChange(status);
    }
    refresh();
}

void JobDetailView::startPreview() {
    previewing_ = true;
    refresh();
    model_->preview(draft_.id, this, [this](Result<SyncPlan> result) {
        previewing_ = false;
        if (result.hasValue()) {
            preview_ = std::make_shared<const SyncPlan>(result.take());
            reviewing_ = false;
            closeSheet();
            showSheet(*preview_);
        } else {
            error_ = AppModelAdapter::describe(result.error());
        }
        refresh();
    });
}

void JobDetailView::statusDidChange(const std::optional<RunStatus>& status) {
    const auto* parked = status ? status->as<RunStatus::AwaitingConfirmation>() : nullptr;
    if (parked == nullptr || !parked->plan) {
        // The sheet stays open, but a review whose run went (stopped from
        // the tray, skipped from its notice) no longer offers to continue it.
        reviewGone();
        return;
    }
    const bool same = reviewing_ && preview_ && *preview_ == *parked->plan && sheet_ != nullptr;
    reviewing_ = true;
    if (!same) preview_ = parked->plan;
    if (!same) {
        closeSheet();
        showSheet(*preview_);
    }
}

void JobDetailView::showSheet(const SyncPlan& plan) {
    std::function<void()> onContinue;
    // Continuing confirms the plan this sheet shows, even when a newer one
    // is parked by the time the user answers.
    if (reviewing_) onContinue = [this, shown = preview_] { continueReview(shown); };
    sheet_ = new PreviewSheet(plan, reviewing_ ? reviewReason() : std::nullopt, strings_, std::move(onContinue),
                              [this] { dismissPreview(); }, this, services_.timers);
    WindowPlacement::openSheet(*sheet_);
}

void JobDetailView::closeSheet() {
    if (sheet_ == nullptr) return;
    PreviewSheet* closing = sheet_;
    sheet_ = nullptr;
    closing->hide();
    closing->deleteLater();
}

void JobDetailView::continueReview(const std::shared_ptr<const SyncPlan>& shown) {
    if (!preview_ || !reviewing_ || !shown) return;
    // The model answers a confirm of a run that no longer waits with nothing:
    // the sheet says so rather than close as if the run went on.
    const RunStatus* status = model_->status(draft_.id);
    if (status == nullptr || status->as<RunStatus::AwaitingConfirmation>() == nullptr) {
        reviewGone();
        return;
    }
    model_->confirm(draft_.id, shown);
    preview_.reset();
    reviewing_ = false;
    closeSheet();
}

void JobDetailView::reviewGone() {
    if (!reviewing_ || sheet_ == nullptr) return;
    // Nothing is left to confirm or decline.
    reviewing_ = false;
    std::function<void()> syncAgain;
    if (model_->job(draft_.id) != nullptr) {
        syncAgain = [this] {
            model_->runNow(draft_.id);
            preview_.reset();
            closeSheet();
        };
    }
    sheet_->withdraw(std::move(syncAgain));
}

void JobDetailView::dismissPreview() {
    if (!preview_) return;
    if (reviewing_) model_->decline(draft_.id);
    reviewing_ = false;
    preview_.reset();
    closeSheet();
}

void JobDetailView::leave(std::function<void()> proceed, std::function<void()> stay) {
    if (!hasChanges() && !savingToLeave_) {
        proceed();
        return;
    }
    if (std::optional<Leaving> replaced = std::exchange(leaving_, Leaving{std::move(proceed), std::move(stay)})) {
        if (replaced->stay) replaced->stay();
    }
    // The open question, or the save it chose, answers the newer way out.
    if (question_ != nullptr || savingToLeave_) return;
    const QLocale where = locale();
    auto* question = new AlertBox(this);
    question->setObjectName(QStringLiteral("leaveDraft"));
    question->setAttribute(Qt::WA_DeleteOnClose);
    // The window names the job, as the list's alerts do.
    question->setWindowTitle(QString::fromStdString(draft_.name));
    question->setTitle(text(isNew_ ? QStringLiteral("Create this job?") : QStringLiteral("Save your changes to this job?")));
    question->setMessage(text(isNew_ ? QStringLiteral("The new job will be lost if you don’t create it.")
                                     : QStringLiteral("Your changes will be lost if you don’t save them.")));
    QPushButton* saveButton = question->addButton(primary_->text(), QMessageBox::AcceptRole);
    question->addButton(text(QStringLiteral("Discard")), QMessageBox::DestructiveRole);
    question->setEscapeButton(question->addButton(text(QStringLiteral("Keep editing")), QMessageBox::RejectRole));
    question->setDefaultButton(saveButton);
    connect(question, &QMessageBox::finished, this, [this, question] { answerLeave(question->clickedButton()); });
    question_ = question;
    question->present();
}

void JobDetailView::answerLeave(QAbstractButton* chosen) {
    const QMessageBox::ButtonRole role = question_ != nullptr && chosen != nullptr ? question_->buttonRole(chosen)
                                                                                   : QMessageBox::RejectRole;
    question_ = nullptr;
    switch (role) {
    case QMessageBox::AcceptRole:
        saveToLeave();
        return;
    case QMessageBox::DestructiveRole:
        revert();
        finishLeaving(true);
        return;
    default:
        finishLeaving(false);
        return;
    }
}

void JobDetailView::saveToLeave() {
    savingToLeave_ = true;
    // A pause on its way is answered first; its answer saves.
    if (pausing_) return;
    // The editor's own save: a failure shows as it would after "Save".
    save();
    if (!saving_ && std::exchange(savingToLeave_, false)) finishLeaving(false);
}

void JobDetailView::finishLeaving(bool left) {
    std::optional<Leaving> leaving = std::exchange(leaving_, std::nullopt);
    if (!leaving) return;
    // Last: the way out may take the editor away.
    const std::function<void()>& then = left ? leaving->proceed : leaving->stay;
    if (then) then();
}

void JobDetailView::resetAdvanced() { editDraft(JobPresentation::simplified(draft_)); }

void JobDetailView::keyPressEvent(QKeyEvent* event) {
    // Keys the focused control left alone: Return creates, Escape cancels.
    if (isNew_ && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        if (primary_->isEnabled()) save();
        event->accept();
        return;
    }
    if (isNew_ && event->key() == Qt::Key_Escape) {
        cancel();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void JobDetailView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) refreshTexts();
}

QString JobDetailView::text(const QString& english) const { return strings_.text(english, locale()); }

void JobDetailView::refreshTexts() {
    name_->setPlaceholderText(text(QStringLiteral("Job name")));
    name_->setAccessibleName(text(QStringLiteral("Job name")));
    if (!isNew_) {
        overviewTab_->setText(text(QStringLiteral("Overview")));
        settingsTab_->setText(text(QStringLiteral("Settings")));
        actionsButton_->setToolTip(text(QStringLiteral("Job actions")));
        actionsButton_->setAccessibleName(text(QStringLiteral("Job actions")));
        actionsButton_->setIcon(
        SymbolImage::icon(FenraIcon::more, palette().color(QPalette::Active, QPalette::ButtonText)));
        advancedToggle_->setText(text(QStringLiteral("Advanced")));
        secondary_->setText(text(QStringLiteral("Revert")));
        primary_->setText(text(QStringLiteral("Save")));
    } else {
        secondary_->setText(text(QStringLiteral("Cancel")));
        primary_->setText(text(QStringLiteral("Create")));
    }
    primary_->setAccessibleName(primary_->text());
    shownWarnings_.clear();
    refreshWarnings();
    refresh();
}

void JobDetailView::refreshWarnings() {
    if (shownWarnings_ == validation_.warnings && !warningsLayout_->isEmpty()) return;
    shownWarnings_ = validation_.warnings;
    while (QLayoutItem* item = warningsLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (ValidationWarning warning : validation_.warnings) {
        auto* row = new FenraLabel(strings_.computed("warning.", warning, locale()), FenraIcon::warning, warnings_);
        row->setObjectName(QStringLiteral("warning"));
        row->setWordWrap(true);
        PaletteTone::apply(row, FenraTheme::warning());
        // The symbol carries the warning colour; the text keeps the window's,
        // which reads on it in either look.
        row->tintSymbolOnly();
        warningsLayout_->addWidget(row);
    }
    warnings_->setVisible(!validation_.warnings.empty());
}

void JobDetailView::refresh() {
    const bool running = isRunning();
    const bool busy = running || saving_;
    const bool changed = hasChanges();
    const std::optional<QString> message = statusMessage();
    const QLocale where = locale();

    name_->setEnabled(!busy);
    const bool emptyName = std::find(validation_.errors.begin(), validation_.errors.end(),
                                     ValidationIssue::emptyName) != validation_.errors.end();
    nameCaption_->setVisible(emptyName);
    if (emptyName) nameCaption_->setText(strings_.computed("validation.", ValidationIssue::emptyName, where));

    if (!isNew_) {
        const SyncJob current = currentJob();
        const QString title = text(current.isEnabled ? QStringLiteral("Pause automatic runs")
                                                     : QStringLiteral("Resume automatic runs"));
        pause_->setText(title);
        pause_->setEnabled(!busy && !pausing_);
        pause_->setToolTip(running ? text(QStringLiteral("Stop the current run before changing automatic runs."))
                                   : title);
        overviewTab_->setChecked(!settingsSelected_);
        settingsTab_->setChecked(settingsSelected_);
        stack_->setCurrentWidget(settingsSelected_ ? static_cast<QWidget*>(formScroll_) : overview_);
        if (!shownJob_ || !(*shownJob_ == current)) {
            shownJob_ = current;
            overview_->setJob(current);
        }
        overview_->setDirty(changed);
        overview_->setPreviewing(previewing_);
        const bool expanded = advancedExpanded();
        advancedToggle_->setChecked(expanded);
        advancedToggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
        advancedContent_->setVisible(expanded);
        badge_->setText(strings_.format(QStringLiteral("%lld custom"), {advancedCount()}, where));
    }
    form_->setEnabled(!busy);
    refreshWarnings();

    errorLine_->setVisible(error_.has_value());
    errorLine_->setText(error_.value_or(QString()));

    footer_->setVisible(isNew_ || settingsSelected_ || changed);
    statusRow_->setVisible(message.has_value());
    progress_->setVisible(validating_);
    statusLabel_->setText(message ? text(*message) : QString());
    if (isNew_) {
        secondary_->setEnabled(true);
        primary_->setEnabled(!message);
    } else {
        secondary_->setEnabled(changed && !saving_);
        primary_->setEnabled(changed && !message && !pausing_);
    }
}

}  // namespace kelto
