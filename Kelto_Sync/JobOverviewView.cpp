#include "Kelto_Sync/JobOverviewView.h"

#include "FenraCore/BusyIndicator.h"
#include "FenraCore/WindowPlacement.h"

#include "FenraCore/AccessibleElement.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraLabel.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTileView.h"
#include "FenraCore/FoldedTile.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/SymbolImage.h"
#include "FenraCore/PaletteTone.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "Kelto_Sync/ModeDisplay.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/ArchiveStatusView.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/HistoryView.h"
#include "Kelto_Sync/PlainToolTip.h"
#include "Kelto_Sync/ProgressPanel.h"
#include "Kelto_Sync/RelativeTimestamp.h"
#include "Kelto_Sync/RunOutcomeDisplay.h"
#include "Kelto_Sync/Status/DeviceDot.h"
#include "Kelto_Sync/Status/RunStatusView.h"
#include "Kelto_Sync/internal/FittingBox.h"
#include "Kelto_Sync/internal/PaletteFollower.h"

#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelto {
namespace {

constexpr int tileSide = 28;
constexpr QSize sheetSize(650, 500);

QLabel* textLabel(const char* name, QWidget* parent, FontRole role = FontRole::caption) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(FenraFont::font(role));
    return label;
}

QString folderName(const std::string& path) {
    return QFileInfo(QDir::cleanPath(QString::fromStdString(path))).fileName();
}

// The removable and network volumes of both sides, source first; a job on
// internal disks names its destination's volume. Volumes are named as under
// the folders: the unlabelled root file system by nothing, so a job that
// lies there alone has no device to wait for.
QString deviceText(const SyncJob& job) {
    QStringList names;
    for (const Endpoint* side : {&job.source, &job.destination}) {
        if (side->volume.kind != VolumeKind::internal) names << DisplayFormat::volumeName(side->volume);
    }
    names.removeAll(QString());
    const QString joined = names.join(QStringLiteral(", "));
    return joined.isEmpty() ? DisplayFormat::volumeName(job.destination.volume) : joined;
}

QWidget* column(const QString& label, const Endpoint& endpoint, const char* name, QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setObjectName(QLatin1String(name));
    AccessibleElement::adopt(*box);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    QLabel* caption = textLabel("label", box);
    caption->setText(label);
    PaletteTone::apply(caption, FenraTheme::textSecondary());
    const QString folder = folderName(endpoint.path);
    auto* title = new FenraLabel(folder, FenraIcon::folder, box);
    title->setObjectName(QStringLiteral("folder"));
    title->setFont(FenraFont::font(FontRole::headline));
    title->setLineLimit(2);
    const QString volumeName = DisplayFormat::volumeName(endpoint.volume);
    QLabel* volume = textLabel("volume", box);
    volume->setText(volumeName);
    volume->setVisible(!volumeName.isEmpty());
    PaletteTone::apply(volume, FenraTheme::textSecondary());
    layout->addWidget(caption);
    layout->addWidget(title);
    layout->addWidget(volume);
    box->setToolTip(PlainToolTip::text(QString::fromStdString(endpoint.path)));
    box->setAccessibleName(label + QStringLiteral(", ") + folder);
    box->setAccessibleDescription(volumeName);
    return box;
}

}  // namespace

JobOverviewView::JobOverviewView(AppModelAdapter& model, SyncJob job, SyncStrings strings,
                                 std::function<void()> preview, Parts parts, StatusViewActions actions,
                                 const Clock& clock, QWidget* parent)
    : QScrollArea(parent),
      model_(&model),
      job_(std::move(job)),
      strings_(strings),
      preview_(std::move(preview)),
      parts_(std::move(parts)),
      actions_(std::move(actions)),
      clock_(&clock),
      content_(new QWidget),
      endpoints_(new QWidget(content_)),
      modeRow_(new QWidget(content_)),
      modeTile_(new FoldedTileView(tileSide, content_)),
      modeTitle_(textLabel("modeTitle", content_, FontRole::body)),
      modeDescription_(textLabel("modeDescription", content_, FontRole::subheadline)),
      archiveOff_(textLabel("archiveOff", content_, FontRole::subheadline)),
      lastRun_(new QWidget(content_)),
      neverRun_(textLabel("neverRun", content_)),
      paused_(textLabel("paused", content_)),
      nextConnect_(textLabel("nextConnect", content_)),
      nextFire_(textLabel("nextFire", content_)),
      syncNow_(new QPushButton(content_)),
      previewButton_(new QPushButton(content_)),
      stop_(new QPushButton(content_)),
      saveFirst_(textLabel("saveFirst", content_)),
      preparing_(new QWidget(content_)),
      preparingLabel_(textLabel("preparingLabel", preparing_)),
      showAll_(new QPushButton(content_)) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    endpoints_->setObjectName(QStringLiteral("endpoints"));
    lastRun_->setObjectName(QStringLiteral("lastRun"));
    syncNow_->setObjectName(QStringLiteral("syncNow"));
    syncNow_->setDefault(true);
    KeltoPrimaryButtonStyle::apply(*syncNow_);
    previewButton_->setObjectName(QStringLiteral("preview"));
    stop_->setObjectName(QStringLiteral("stop"));
    preparing_->setObjectName(QStringLiteral("preparing"));
    showAll_->setObjectName(QStringLiteral("showAllHistory"));
    modeDescription_->setWordWrap(true);
    archiveOff_->setWordWrap(true);
    for (QLabel* line : {modeDescription_, paused_, nextConnect_, nextFire_, neverRun_, saveFirst_}) {
        PaletteTone::apply(line, FenraTheme::textSecondary());
    }
    // The warning colour marks the symbol; the text keeps the window's, as
    // the editor's mode section shows it.
    auto* archiveOffRow = new QWidget(content_);
    archiveOffRow->setObjectName(QStringLiteral("archiveOffRow"));
    auto* archiveOffLayout = new QHBoxLayout(archiveOffRow);
    // Under the description, apart from the mode's own element.
    archiveOffLayout->setContentsMargins(tileSide + 12, 0, 0, 0);
    auto* archiveOffIcon = new IconLabel(archiveOffRow);
    archiveOffIcon->setFixedSize(12, 12);
    PaletteFollower::follow(archiveOffIcon, [](QWidget& drawn) {
        static_cast<IconLabel&>(drawn).setIcon(
            SymbolImage::icon(FenraIcon::warning, FenraTheme::warning().color(drawn.palette())));
    });
    archiveOff_->setParent(archiveOffRow);
    archiveOffLayout->addWidget(archiveOffIcon, 0, Qt::AlignTop);
    archiveOffLayout->addWidget(archiveOff_, 1);

    auto* modeText = new QVBoxLayout;
    modeText->setSpacing(3);
    modeText->addWidget(modeTitle_);
    modeText->addWidget(modeDescription_);
    // The mode row is one element: its title and description read as one.
    modeRow_->setObjectName(QStringLiteral("modeRow"));
    AccessibleElement::adopt(*modeRow_);
    auto* mode = new QHBoxLayout(modeRow_);
    mode->setContentsMargins(0, 0, 0, 0);
    mode->setSpacing(12);
    modeTile_->setParent(modeRow_);
    modeTitle_->setParent(modeRow_);
    modeDescription_->setParent(modeRow_);
    mode->addWidget(modeTile_, 0, Qt::AlignTop);
    mode->addLayout(modeText, 1);

    auto* lastRunLayout = new QVBoxLayout(lastRun_);
    lastRunLayout->setContentsMargins(0, 0, 0, 0);
    lastRunLayout->setSpacing(4);

    auto* nextRun = new QVBoxLayout;
    nextRun->setSpacing(4);
    for (QLabel* line : {paused_, nextConnect_, nextFire_}) nextRun->addWidget(line);

    auto* buttons = new FittingBox(8, 8, content_);
    buttons->setObjectName(QStringLiteral("actions"));
    for (QPushButton* button : {syncNow_, previewButton_, stop_}) buttons->addWidget(button);

    auto* busy = new BusyIndicator(BusyIndicator::small, preparing_);
    busy->setObjectName(QStringLiteral("preparingIndicator"));
    auto* preparingLayout = new QHBoxLayout(preparing_);
    preparingLayout->setContentsMargins(0, 0, 0, 0);
    preparingLayout->addWidget(busy);
    preparingLayout->addWidget(preparingLabel_);
    preparingLayout->addStretch(1);

    auto* live = new QWidget(content_);
    live->setObjectName(QStringLiteral("liveStatus"));
    liveLayout_ = new QVBoxLayout(live);
    liveLayout_->setContentsMargins(0, 0, 0, 0);

    auto* jobSection = new QVBoxLayout;
    jobSection->setSpacing(10);
    jobSection->addWidget(endpoints_);
    jobSection->addWidget(modeRow_);
    jobSection->addWidget(archiveOffRow);
    jobSection->addWidget(lastRun_);
    jobSection->addWidget(neverRun_);
    jobSection->addLayout(nextRun);
    jobSection->addWidget(buttons);
    jobSection->addWidget(saveFirst_);
    jobSection->addWidget(preparing_);
    jobSection->addWidget(live);

    auto* recent = new HistoryView(model, job_.id, 3, strings_, actions_, clock, content_);
    recent->setObjectName(QStringLiteral("recent"));
    auto* archive = new ArchiveStatusView(model, job_.id, strings_, actions_, content_);
    archive->setObjectName(QStringLiteral("archive"));

    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(18);
    layout->addLayout(jobSection);
    layout->addWidget(recent);
    layout->addWidget(showAll_, 0, Qt::AlignLeft);
    layout->addWidget(archive);
    layout->addStretch(1);
    setWidget(content_);

    connect(syncNow_, &QPushButton::clicked, this, [this] { model_->runNow(job_.id); });
    connect(previewButton_, &QPushButton::clicked, this, [this] {
        if (preview_) preview_();
    });
    connect(stop_, &QPushButton::clicked, this, [this] { model_->cancel(job_.id); });
    connect(showAll_, &QPushButton::clicked, this, &JobOverviewView::showHistory);
    for (auto signal : {&AppModelAdapter::jobsChanged, &AppModelAdapter::statusesChanged,
                        &AppModelAdapter::lastRecordsChanged, &AppModelAdapter::nextFireDatesChanged}) {
        connect(&model, signal, this, &JobOverviewView::refresh);
    }
    buildEndpoints();
    refresh();
}

void JobOverviewView::setJob(const SyncJob& job) {
    job_ = job;
    buildEndpoints();
    refresh();
}

void JobOverviewView::setDirty(bool dirty) {
    dirty_ = dirty;
    refresh();
}

void JobOverviewView::setPreviewing(bool previewing) {
    previewing_ = previewing;
    refresh();
}

void JobOverviewView::showHistory() {
    if (sheet_ == nullptr) {
        sheet_ = new QDialog(this);
        sheet_->setObjectName(QStringLiteral("historySheet"));
        // The window manager shows a title where the sheet has none of its own.
        sheet_->setWindowTitle(strings_.text(QStringLiteral("History"), locale()));
        sheet_->setFixedSize(sheetSize);
        auto* scroll = new QScrollArea(sheet_);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        auto* inner = new QWidget;
        auto* innerLayout = new QVBoxLayout(inner);
        innerLayout->addWidget(new HistoryView(*model_, job_.id, std::nullopt, strings_, actions_, *clock_, inner));
        innerLayout->addStretch(1);
        scroll->setWidget(inner);
        auto* close = new QPushButton(strings_.text(QStringLiteral("Close"), locale()), sheet_);
        close->setObjectName(QStringLiteral("close"));
        close->setAutoDefault(false);
        connect(close, &QPushButton::clicked, sheet_, &QDialog::reject);
        auto* row = new QHBoxLayout;
        row->addStretch(1);
        row->addWidget(close);
        auto* layout = new QVBoxLayout(sheet_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(scroll, 1);
        row->setContentsMargins(11, 11, 11, 11);
        layout->addLayout(row);
        // Escape rejects a dialog: it closes the sheet. A closed sheet is made anew, so it reads afresh.
        connect(sheet_, &QDialog::finished, this, [this] {
            sheet_->deleteLater();
            sheet_ = nullptr;
        });
    }
    WindowPlacement::openSheet(*sheet_);
}

void JobOverviewView::changeEvent(QEvent* event) {
    QScrollArea::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) {
        lastRunStale_ = true;
        buildEndpoints();
        refresh();
    }
}

void JobOverviewView::buildEndpoints() {
    delete endpoints_->layout();
    for (QWidget* child : endpoints_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) delete child;
    const QLocale where = locale();
    auto* layout = new QHBoxLayout(endpoints_);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(12);
    // The columns take the width their texts need, the line between them;
    // what is left goes after the device dot.
    // Both columns start at the top, so their labels and names line up
    // whichever of them has a volume line.
    layout->addWidget(column(strings_.text(QStringLiteral("Source (A)"), where), job_.source, "source", endpoints_), 0,
                      Qt::AlignTop);
    auto* line = new QFrame(endpoints_);
    line->setFixedSize(32, 1);
    line->setAutoFillBackground(true);
    PaletteTone::apply(line, FenraTheme::textTertiary(), QPalette::Window);
    layout->addWidget(line, 0, Qt::AlignVCenter);
    layout->addWidget(
        column(strings_.text(QStringLiteral("Destination (B)"), where), job_.destination, "destination", endpoints_), 0,
        Qt::AlignTop);
    if (parts_.deviceDot) layout->addWidget(parts_.deviceDot(job_, endpoints_), 0, Qt::AlignVCenter);
    layout->addStretch(1);
}

void JobOverviewView::refresh() {
    const QLocale where = locale();
    const SyncMode mode = job_.mode;
    modeTile_->setTile(FoldedTile(ModeDisplay::symbol(mode), ModeDisplay::tint(mode), tileSide));
    modeTitle_->setText(strings_.text(ModeDisplay::label(mode), where));
    modeDescription_->setText(strings_.text(ModeDisplay::description(mode), where));
    modeRow_->setAccessibleName(modeTitle_->text() + QStringLiteral(", ") + modeDescription_->text());
    // Without an archive, what the description says goes to the archive is deleted.
    archiveOff_->parentWidget()->setVisible(job_.mode != SyncMode::copy && !job_.options.archiveEnabled);
    archiveOff_->setText(
        strings_.text(QStringLiteral("Archive is off. Deleted and overwritten files cannot be recovered."), where));

    refreshLastRun(where);
    refreshNextRun(where);

    const bool active = model_->status(job_.id) != nullptr;
    syncNow_->setText(strings_.text(QStringLiteral("Sync now"), where));
    syncNow_->setAccessibleName(strings_.text(QStringLiteral("Sync now"), where));
    syncNow_->setToolTip(job_.isEnabled
                             ? strings_.text(QStringLiteral("Sync now"), where)
                             : strings_.text(QStringLiteral("Automatic runs are paused. You can still sync manually."), where));
    syncNow_->setEnabled(!active && !dirty_);
    previewButton_->setText(strings_.text(QStringLiteral("Preview"), where));
    previewButton_->setEnabled(!active && !dirty_ && !previewing_);
    stop_->setText(strings_.text(QStringLiteral("Stop"), where));
    stop_->setVisible(active);

    saveFirst_->setText(strings_.text(QStringLiteral("Save changes first"), where));
    saveFirst_->setVisible(dirty_);
    preparingLabel_->setText(strings_.text(QStringLiteral("Preparing preview\u2026"), where));
    preparing_->setVisible(previewing_);
    showAll_->setText(strings_.text(QStringLiteral("Show all history\u2026"), where));

    refreshLiveStatus();
}

void JobOverviewView::refreshLastRun(const QLocale& where) {
    const RunRecord* record = model_->lastRecord(job_.id);
    lastRun_->setVisible(record != nullptr);
    neverRun_->setVisible(record == nullptr);
    neverRun_->setText(strings_.text(QStringLiteral("Never run"), where));
    // Progress arrives many times a second; the row is remade only for a new record or look.
    const std::optional<Uuid> shown = record ? std::optional<Uuid>(record->id) : std::nullopt;
    if (!lastRunStale_ && shown == shownRecord_) return;
    lastRunStale_ = false;
    shownRecord_ = shown;
    delete lastRun_->layout();
    for (QWidget* child : lastRun_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) delete child;
    if (record == nullptr) return;

    auto* layout = new QVBoxLayout(lastRun_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* outcome = new FenraLabel(strings_.text(RunOutcomeDisplay::title(record->outcome), where),
                                   RunOutcomeDisplay::icon(record->outcome), lastRun_);
    outcome->setObjectName(QStringLiteral("outcome"));
    outcome->setFont(FenraFont::font(FontRole::caption));
    // The outcome's colour is its icon's; the title stays with the line's.
    PaletteTone::apply(outcome, RunOutcomeDisplay::iconColor(record->outcome));
    outcome->tintSymbolOnly(FenraTheme::textSecondary());
    auto* line = new FittingBox(8, 4, lastRun_);
    line->setObjectName(QStringLiteral("lastRunLine"));
    line->setFont(FenraFont::font(FontRole::caption));
    PaletteTone::apply(line, FenraTheme::textSecondary());
    auto* when = new RelativeTimestamp(record->endedAt, *clock_, line);
    when->setObjectName(QStringLiteral("endedAt"));
    auto* dot = new QLabel(QStringLiteral("\u00B7"), line);
    auto* copied = new QLabel(
        strings_.count(QStringLiteral("%lld files copied"), qlonglong(record->stats.filesCopied), {}, where), line);
    copied->setObjectName(QStringLiteral("filesCopied"));
    line->addWidget(when);
    line->addWidget(dot);
    line->addWidget(copied);
    layout->addWidget(outcome);
    layout->addWidget(line);
}

void JobOverviewView::refreshNextRun(const QLocale& where) {
    paused_->setText(strings_.text(QStringLiteral("Paused"), where));
    paused_->setVisible(!job_.isEnabled);
    const bool onConnect = std::any_of(job_.triggers.begin(), job_.triggers.end(),
                                       [](const Trigger& t) { return t.kind() == Trigger::Kind::onConnect; });
    const QString devices = deviceText(job_);
    nextConnect_->setVisible(job_.isEnabled && onConnect && !devices.isEmpty());
    nextConnect_->setText(strings_.format(QStringLiteral("Next: when %@ is connected"), {devices}, where));
    const std::optional<Date> fire = model_->nextFireDate(job_.id);
    if (fire) {
        nextFire_->setText(strings_.format(QStringLiteral("Next: %@"), {DisplayFormat::dateTime(*fire, where)}, where));
    } else {
        nextFire_->setText(strings_.text(QStringLiteral("Next: manual sync"), where));
    }
    nextFire_->setVisible(job_.isEnabled && (fire || job_.triggers.empty()));
}

void JobOverviewView::refreshLiveStatus() {
    const RunStatus* status = model_->status(job_.id);
    const std::optional<RunStatus::Kind> kind = status ? std::optional(status->kind()) : std::nullopt;
    if (kind != statusKind_) {
        delete progress_;
        progress_ = nullptr;
        delete statusView_;
        statusView_ = nullptr;
        statusKind_ = kind;
        QWidget* live = liveLayout_->parentWidget();
        if (kind == RunStatus::Kind::running) {
            // "Stop" beside "Sync now" serves; the panel gets none.
            progress_ = new ProgressPanel(strings_, {}, live);
            liveLayout_->addWidget(progress_);
        } else if (kind) {
            if (parts_.runStatus) {
                statusView_ = parts_.runStatus(*status, live);
            } else {
                statusView_ = new RunStatusView(*status, strings_, live);
                statusView_->setObjectName(QStringLiteral("runStatus"));
            }
            liveLayout_->addWidget(statusView_);
        }
    }
    if (progress_ != nullptr) progress_->setProgress(status->as<RunStatus::Running>()->progress);
}

JobOverviewView::Parts JobOverviewView::Parts::standard(SyncStrings strings) {
    Parts parts;
    parts.deviceDot = [strings](const SyncJob& job, QWidget* parent) { return new DeviceDot(job, strings, DeviceDot::Sources::system(), parent); };
    parts.runStatus = [strings](const RunStatus& status, QWidget* parent) { return new RunStatusView(status, strings, parent); };
    return parts;
}

}  // namespace kelto
