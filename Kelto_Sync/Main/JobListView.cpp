#include "Kelto_Sync/Main/JobListView.h"

#include "FenraCore/WindowPlacement.h"

#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTileView.h"
#include "FenraCore/PaletteTone.h"
#include "FenraCore/SymbolImage.h"
#include "Kelto_Sync/AlertBox.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/RunOutcomeDisplay.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Main/JobSidebarRow.h"
#include "Kelto_Sync/internal/PaletteFollower.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace kelto {

namespace {
constexpr int sheetWidth = 560;
constexpr int sheetHeight = 600;
constexpr int emptyTileSide = 56;

// Every way out of an editor is its own leave(); a view with no draft
// (none, or a stand-in) leaves at once.
void leaveEditor(QWidget* editor, std::function<void()> proceed, std::function<void()> stay) {
    if (auto* drafted = qobject_cast<JobDetailView*>(editor)) {
        drafted->leave(std::move(proceed), std::move(stay));
    } else {
        proceed();
    }
}

// Escape, "Cancel" and the window's close button all end in reject(),
// which leaves the new job's draft first.
class NewJobSheet : public QDialog {
public:
    using QDialog::QDialog;
    QPointer<QWidget> editor;

    void reject() override {
        QPointer<NewJobSheet> self(this);
        leaveEditor(editor, [self] {
            if (self && self->isVisible()) self->QDialog::reject();
        }, {});
    }
};

}  // namespace

JobListView::JobListView(AppModelAdapter& model, SyncStrings strings, EditorFactory editors,
                         DeviceDot::Sources sources, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent),
      model_(&model),
      strings_(strings),
      editors_(std::move(editors)),
      sources_(std::move(sources)) {
    const QLocale where = locale();
    setMinimumSize(760, 520);
    setChildrenCollapsible(false);

    auto* sidebar = new QWidget(this);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setMinimumWidth(220);
    sidebar->setMaximumWidth(340);
    auto* side = new QVBoxLayout(sidebar);
    auto* header = new QHBoxLayout;
    auto* title = new QLabel(strings_.text(QStringLiteral("Jobs"), where), sidebar);
    title->setObjectName(QStringLiteral("sidebarTitle"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    const auto toolButton = [&](const QString& text, FenraIcon icon, const char* name) {
        auto* button = new QPushButton(sidebar);
        PaletteFollower::follow(button, [icon](QWidget& drawn) {
            static_cast<QPushButton&>(drawn).setIcon(SymbolImage::icon(icon, drawn.palette().color(QPalette::Active, QPalette::ButtonText)));
        });
        button->setObjectName(QLatin1String(name));
        button->setFlat(true);
        button->setToolTip(strings_.text(text, where));
        button->setAccessibleName(strings_.text(text, where));
        return button;
    };
    new_ = toolButton(QStringLiteral("New job"), FenraIcon::add, "newJob");
    delete_ = toolButton(QStringLiteral("Delete job"), FenraIcon::delete_, "deleteJob");
    header->addWidget(title, 1);
    header->addWidget(new_);
    header->addWidget(delete_);
    side->addLayout(header);
    list_ = new QListWidget(sidebar);
    list_->setObjectName(QStringLiteral("jobs"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->installEventFilter(this);
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this, &JobListView::markSelection);
    side->addWidget(list_, 1);

    detail_ = new QStackedWidget(this);
    empty_ = new QWidget(detail_);
    empty_->setObjectName(QStringLiteral("emptyState"));
    auto* emptyLayout = new QVBoxLayout(empty_);
    emptyLayout->setContentsMargins(24, 24, 24, 24);
    emptyLayout->setSpacing(16);
    emptyLayout->addStretch(1);
    auto* tile = new FoldedTileView(emptyTileSide, empty_);
    tile->setTile(FoldedTile(FenraIcon::copy, TileTint::sky, emptyTileSide));
    auto* heading = new QLabel(strings_.text(QStringLiteral("No job selected"), where), empty_);
    QFont headingFont = heading->font();
    headingFont.setPixelSize(17);
    headingFont.setWeight(QFont::DemiBold);
    heading->setFont(headingFont);
    auto* hint = new QLabel(strings_.text(QStringLiteral("Create a job to keep two folders in sync."), where), empty_);
    PaletteTone::apply(hint, FenraTheme::textSecondary());
    auto* emptyNew = new QPushButton(strings_.text(QStringLiteral("New job"), where), empty_);
    emptyNew->setObjectName(QStringLiteral("emptyNewJob"));
    emptyNew->setDefault(true);
    KeltoPrimaryButtonStyle::apply(*emptyNew);
    emptyNew->setAccessibleName(strings_.text(QStringLiteral("New job"), where));
    for (QWidget* widget : {static_cast<QWidget*>(tile), static_cast<QWidget*>(heading), static_cast<QWidget*>(hint),
                            static_cast<QWidget*>(emptyNew)}) {
        emptyLayout->addWidget(widget, 0, Qt::AlignHCenter);
    }
    emptyLayout->addStretch(1);
    detail_->addWidget(empty_);

    addWidget(sidebar);
    addWidget(detail_);
    setStretchFactor(1, 1);
    setSizes({260, 500});

    connect(new_, &QPushButton::clicked, this, &JobListView::newJob);
    connect(emptyNew, &QPushButton::clicked, this, &JobListView::newJob);
    connect(delete_, &QPushButton::clicked, this, &JobListView::confirmDelete);
    connect(list_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (syncingList_ || item == nullptr) return;
        select(Uuid::parse(item->data(Qt::UserRole).toString().toStdString()));
    });
    connect(list_, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QListWidgetItem* item = list_->itemAt(at);
        if (item == nullptr) return;
        const auto id = Uuid::parse(item->data(Qt::UserRole).toString().toStdString());
        const SyncJob* job = id ? model_->job(*id) : nullptr;
        if (job == nullptr) return;
        QMenu* menu = contextMenu(*job, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(list_->viewport()->mapToGlobal(at));
    });
    connect(model_, &AppModelAdapter::jobsChanged, this, [this] {
        rebuildList();
        refreshDetail();
        refreshButtons();
    });
    connect(model_, &AppModelAdapter::statusesChanged, this, [this] {
        refreshRows();
        refreshButtons();
    });
    connect(model_, &AppModelAdapter::lastRecordsChanged, this, &JobListView::refreshRows);
    connect(model_, &AppModelAdapter::requestedJobIDChanged, this, [this] {
        if (isVisible()) applyRequestedJob();
    });
    connect(model_, &AppModelAdapter::manualSkipChanged, this, &JobListView::showSkip);
    connect(model_, &AppModelAdapter::errorMessageChanged, this, &JobListView::showError);

    rebuildList();
    refreshDetail();
    refreshButtons();
}

JobListView::~JobListView() {
    // Deleting the children moves the focus; this part is gone by then.
    disconnect(focusWatch_);
    list_->removeEventFilter(this);
    if (window_) window_->removeEventFilter(this);
}

SyncJob JobListView::makeNewJob(const SyncStrings& strings, const QLocale& locale) {
    return SyncJob::newJob(strings.text(QStringLiteral("New job"), locale).toStdString());
}

bool JobListView::busy(const Uuid& jobID) const { return model_->status(jobID) != nullptr; }

void JobListView::select(std::optional<Uuid> jobID) {
    const SyncJob* job = jobID ? model_->job(*jobID) : nullptr;
    if ((job ? std::optional(job->id) : std::nullopt) == editorJob_) {
        applySelection(jobID);
        return;
    }
    leaveEditor(editor_, [this, jobID] { applySelection(jobID); }, {});
    // Asked, or kept: the list goes back to the job being edited, now and
    // once a click that selects the row it pressed has done so.
    if (selection_ != jobID) {
        showSelection();
        QMetaObject::invokeMethod(this, &JobListView::showSelection, Qt::QueuedConnection);
    }
}

void JobListView::applySelection(std::optional<Uuid> jobID) {
    selection_ = jobID;
    showSelection();
    refreshDetail();
    refreshButtons();
}

void JobListView::showSelection() {
    syncingList_ = true;
    list_->setCurrentItem(nullptr);
    list_->clearSelection();
    for (int row = 0; row < list_->count(); ++row) {
        QListWidgetItem* item = list_->item(row);
        if (selection_ && item->data(Qt::UserRole).toString() == QString::fromStdString(selection_->string())) {
            list_->setCurrentItem(item);
        }
    }
    syncingList_ = false;
    markSelection();
}

QWidget* JobListView::sheetEditor() const {
    return sheet_ && sheet_->isVisible() ? static_cast<NewJobSheet*>(sheet_.data())->editor.data() : nullptr;
}

bool JobListView::holdsChanges() const {
    for (QWidget* editor : {sheetEditor(), editor_}) {
        if (const auto* drafted = qobject_cast<JobDetailView*>(editor); drafted != nullptr && drafted->hasChanges()) {
            return true;
        }
    }
    return false;
}

void JobListView::leaveDrafts(std::function<void()> proceed, std::function<void()> stay) {
    leaveEditor(sheetEditor(), [this, proceed = std::move(proceed), stay]() mutable {
        leaveEditor(editor_, std::move(proceed), std::move(stay));
    }, stay);
}

void JobListView::markSelection() {
    // The list draws its selection in full only while it has the focus.
    const bool emphasised = list_->hasFocus() && list_->isActiveWindow();
    for (const auto& [id, row] : rows_) row->setSelected(selection_ == id, emphasised);
}

bool JobListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close && !closeAllowed_ && holdsChanges()) {
        // The window closes once its drafts are left.
        event->ignore();
        leaveDrafts([this] {
            if (!window_) return;
            closeAllowed_ = true;
            window_->close();
            closeAllowed_ = false;
        });
        return true;
    }
    if (watched == list_) {
        switch (event->type()) {
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
            // After the list has taken the change in.
            QMetaObject::invokeMethod(this, &JobListView::markSelection, Qt::QueuedConnection);
            break;
        default:
            break;
        }
    }
    return QSplitter::eventFilter(watched, event);
}

void JobListView::rebuildList() {
    const auto& jobs = model_->jobs();
    bool sameOrder = jobs.size() == static_cast<std::size_t>(list_->count());
    for (std::size_t i = 0; sameOrder && i < jobs.size(); ++i) {
        sameOrder = list_->item(static_cast<int>(i))->data(Qt::UserRole).toString() ==
                    QString::fromStdString(jobs[i].id.string());
    }
    if (sameOrder) {
        refreshRows();
        return;
    }
    syncingList_ = true;
    list_->clear();
    rows_.clear();
    for (const SyncJob& job : jobs) {
        auto* item = new QListWidgetItem(list_);
        item->setData(Qt::UserRole, QString::fromStdString(job.id.string()));
        const RunStatus* status = model_->status(job.id);
        const RunRecord* record = model_->lastRecord(job.id);
        auto* row = new JobSidebarRow(job, status ? std::optional(*status) : std::nullopt,
                                      record ? std::optional(record->outcome) : std::nullopt, strings_, sources_);
        item->setSizeHint(QSize(0, 48));
        list_->setItemWidget(item, row);
        rows_[job.id] = row;
        if (selection_ == job.id) list_->setCurrentItem(item);
    }
    syncingList_ = false;
    markSelection();
}

void JobListView::refreshRows() {
    for (const SyncJob& job : model_->jobs()) {
        const auto row = rows_.find(job.id);
        if (row == rows_.end()) continue;
        const RunStatus* status = model_->status(job.id);
        const RunRecord* record = model_->lastRecord(job.id);
        row->second->setValues(job, status ? std::optional(*status) : std::nullopt,
                               record ? std::optional(record->outcome) : std::nullopt);
    }
}

void JobListView::refreshDetail() {
    const SyncJob* job = selection_ ? model_->job(*selection_) : nullptr;
    const std::optional<Uuid> shown = job ? std::optional(job->id) : std::nullopt;
    // The editor lives as long as its job stays selected: a new id starts afresh.
    if (shown != editorJob_) {
        // Later: the way here may have started inside the editor (its
        // question's answer).
        if (editor_ != nullptr) {
            detail_->removeWidget(editor_);
            editor_->hide();
            editor_->deleteLater();
        }
        editor_ = nullptr;
        editorJob_ = shown;
        if (job != nullptr && editors_) {
            editor_ = editors_(*job, false, {}, detail_);
            detail_->addWidget(editor_);
        }
    }
    detail_->setCurrentWidget(editor_ != nullptr ? editor_ : empty_);
}

void JobListView::refreshButtons() {
    delete_->setEnabled(selection_.has_value() && !busy(*selection_));
}

JobListView::EditorFactory JobListView::standardEditors(AppModelAdapter& model, SyncStrings strings) {
    return [&model, strings](const SyncJob& original, bool isNew, std::function<void()> onSaved,
                             QWidget* parent) -> QWidget* {
        JobDetailView::Services services = JobDetailView::Services::system();
        services.overviewParts = JobOverviewView::Parts::standard(strings);
        auto* editor = new JobDetailView(model, original, isNew, strings, std::move(onSaved), parent, services);
        if (isNew && parent != nullptr) {
            QObject::connect(editor, &JobDetailView::dismissed, parent, [parent] { parent->window()->close(); });
        }
        return editor;
    };
}

void JobListView::newJob() {
    if (sheet_) sheet_->deleteLater();
    const SyncJob job = makeNewJob(strings_, locale());
    auto* sheet = new NewJobSheet(this);
    sheet->setObjectName(QStringLiteral("newJobSheet"));
    // The window manager shows a title where the sheet has none of its own.
    sheet->setWindowTitle(strings_.text(QStringLiteral("New job"), locale()));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setFixedSize(sheetWidth, sheetHeight);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    QPointer<QDialog> guard(sheet);
    const Uuid id = job.id;
    if (editors_) {
        sheet->editor = editors_(job, true, [this, guard, id] {
            select(id);
            if (guard) guard->accept();
        }, sheet);
        layout->addWidget(sheet->editor);
    }
    sheet_ = sheet;
    WindowPlacement::openSheet(*sheet);
}

void JobListView::confirmDelete() {
    if (!selection_) return;
    // The dialog deletes the job it was opened for: a requested job may
    // change the selection while it is open.
    const Uuid target = *selection_;
    const QLocale where = locale();
    auto* dialog = new AlertBox(this);
    dialog->setObjectName(QStringLiteral("deleteDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (const SyncJob* job = model_->job(target)) dialog->setWindowTitle(QString::fromStdString(job->name));
    dialog->setTitle(strings_.text(QStringLiteral("Delete this job?"), where));
    dialog->setMessage(strings_.text(QStringLiteral("The folders and their contents will not be deleted."), where));
    QPushButton* confirm = dialog->addButton(strings_.text(QStringLiteral("Delete job"), where), QMessageBox::DestructiveRole);
    dialog->addButton(QMessageBox::Cancel);
    connect(confirm, &QPushButton::clicked, this, [this, target] {
        model_->deleteJob(target, this, [this, target](Result<void> result) {
            if (result.hasValue()) {
                // The deleted job's draft goes with it.
                if (selection_ == target) applySelection(std::nullopt);
            } else {
                setPauseFailed(AppModelAdapter::describe(result.error()));
            }
        });
    });
    deleteDialog_ = dialog;
    dialog->present();
}

QMenu* JobListView::contextMenu(const SyncJob& job, QWidget* parent) {
    const QLocale where = locale();
    auto* menu = new QMenu(parent);
    menu->setToolTipsVisible(true);
    const QString title = strings_.text(
        job.isEnabled ? QStringLiteral("Pause automatic runs") : QStringLiteral("Resume automatic runs"), where);
    QAction* action = menu->addAction(title);
    const bool isBusy = busy(job.id);
    action->setEnabled(!isBusy);
    action->setToolTip(isBusy ? strings_.text(QStringLiteral("Stop the current run before changing automatic runs."), where)
                              : title);
    connect(action, &QAction::triggered, this, [this, jobID = job.id] {
        // The job as stored now: an edit saved while the menu was open stays.
        const SyncJob* stored = model_->job(jobID);
        if (stored == nullptr || busy(jobID)) return;
        SyncJob flipped = *stored;
        flipped.isEnabled = !flipped.isEnabled;
        model_->updateJob(flipped, this, [this](Result<void> result) {
            if (!result.hasValue()) setPauseFailed(AppModelAdapter::describe(result.error()));
        });
    });
    return menu;
}

void JobListView::setPauseFailed(QString text) {
    error_ = std::move(text);
    showError();
}

void JobListView::showEvent(QShowEvent* event) {
    QSplitter::showEvent(event);
    if (window_ != window()) {
        if (window_) window_->removeEventFilter(this);
        window_ = window();
        window_->installEventFilter(this);
    }
    applyRequestedJob();
    showSkip();
    showError();
}

void JobListView::applyRequestedJob() {
    const std::optional<Uuid> requested = model_->requestedJobID();
    if (!requested) return;
    select(*requested);
    model_->model().setRequestedJobID(std::nullopt);
}

void JobListView::showSkip() {
    const std::optional<RunRecord>& skip = model_->manualSkip();
    if (!skip) {
        if (skipAlert_) skipAlert_->close();
        return;
    }
    if (!isVisible()) return;
    const QLocale where = locale();
    if (!skipAlert_) {
        auto* alert = new AlertBox(this);
        alert->setObjectName(QStringLiteral("skipAlert"));
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setTitle(strings_.text(QStringLiteral("Sync skipped"), where));
        alert->addButton(strings_.text(QStringLiteral("OK"), where), QMessageBox::AcceptRole);
        connect(alert, &QMessageBox::finished, this, [this] {
            if (model_->manualSkip()) model_->model().setManualSkip(std::nullopt);
        });
        skipAlert_ = alert;
        alert->present();
    }
    // The window names the job the skip was for.
    const SyncJob* job = model_->job(skip->jobID);
    skipAlert_->setWindowTitle(job != nullptr ? QString::fromStdString(job->name) : QString());
    skipAlert_->setMessage(skip->outcome.kind == RunOutcome::Case::skipped
                               ? strings_.text(RunOutcomeDisplay::skipReason(skip->outcome.skipReason), where)
                               : QString());
}

void JobListView::showError() {
    const std::optional<std::string>& modelError = model_->errorMessage();
    if (!error_ && !modelError) return;
    if (!isVisible()) return;
    const QString shown = error_ ? *error_ : QString::fromStdString(*modelError);
    if (!errorAlert_) {
        const QLocale where = locale();
        auto* alert = new AlertBox(this);
        alert->setObjectName(QStringLiteral("errorAlert"));
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setTitle(strings_.text(QStringLiteral("Unable to complete action"), where));
        alert->addButton(strings_.text(QStringLiteral("OK"), where), QMessageBox::AcceptRole);
        connect(alert, &QMessageBox::finished, this, [this] {
            error_.reset();
            // Empty optionals go straight to the model: g++ 12 misreads the
            // adapter's inlined move of one as uninitialised.
            model_->model().setErrorMessage(std::nullopt);
        });
        errorAlert_ = alert;
        alert->present();
    }
    errorAlert_->setMessage(shown);
}

}  // namespace kelto
