#include "Kelto_Sync/Tray/MenuBarContent.h"

#include "FenraCore/ContentFit.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Tray/MenuBarJobRow.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace kelto {

namespace {
constexpr int padding = 16;
constexpr int spacing = 12;

// As high as the rows it holds (Qt's own caps a hint at 24 lines), as narrow
// as the column; a limit above it makes it scroll.
class RowScroll : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const QWidget* rows = widget();
        return rows != nullptr ? rows->sizeHint() : QSize();
    }
    QSize minimumSizeHint() const override { return {0, 0}; }
};
}  // namespace

MenuBarContent::MenuBarContent(AppModelAdapter& model, SyncStrings strings, Actions actions,
                               DeviceDot::Sources sources, const Clock& clock, QWidget* parent)
    : QWidget(parent),
      model_(&model),
      strings_(strings),
      actions_(std::move(actions)),
      sources_(std::move(sources)),
      clock_(&clock) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // The popup takes the size its jobs need, up to the height limit.
    outer->setSizeConstraint(QLayout::SetFixedSize);
    body_ = new QWidget;
    body_->setFixedWidth(contentWidth);
    outer->addWidget(
        new FenraSurfaceFrame(FenraSurface::popover, InsettableShape::roundedRectangle(surfaceRadius), false, body_));

    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(spacing);

    header_ = new QLabel(body_);
    header_->setObjectName(QStringLiteral("header"));
    header_->setFont(FenraFont::font(FontRole::headline));
    empty_ = new QLabel(body_);
    empty_->setObjectName(QStringLiteral("noJobs"));
    PaletteTone::apply(empty_, FenraTheme::textSecondary());
    rowScroll_ = nullptr;
    rowBox_ = new QWidget(body_);
    rowBox_->setObjectName(QStringLiteral("jobRows"));
    rowLayout_ = new QVBoxLayout(rowBox_);
    rowLayout_->setContentsMargins(0, 0, 0, 0);
    rowLayout_->setSpacing(spacing);
    queued_ = new QLabel(body_);
    queued_->setObjectName(QStringLiteral("queuedCount"));
    queued_->setFont(FenraFont::font(FontRole::caption));
    auto* divider = new QFrame(body_);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    // The commands stand one under the other at one width, the widest
    // text's, whatever the language.
    auto* commands = new QWidget(body_);
    commands->setObjectName(QStringLiteral("commands"));
    auto* commandColumn = new QVBoxLayout(commands);
    commandColumn->setContentsMargins(0, 0, 0, 0);
    commandColumn->setSpacing(spacing);
    const auto command = [&](const char* name, bool shown) {
        auto* button = new QPushButton(commands);
        button->setObjectName(QLatin1String(name));
        button->setVisible(shown);
        return button;
    };
    syncAll_ = command("syncAll", true);
    open_ = command("openMainWindow", static_cast<bool>(actions_.openMainWindow));
    settings_ = command("settings", static_cast<bool>(actions_.showSettings));
    quit_ = command("quit", static_cast<bool>(actions_.quit));

    column->addWidget(header_);
    column->addWidget(empty_);
    column->addWidget(rowBox_);
    column->addWidget(queued_);
    column->addWidget(divider);
    for (QPushButton* button : {syncAll_, open_, settings_, quit_}) commandColumn->addWidget(button);
    column->addWidget(commands, 0, Qt::AlignLeft);

    connect(syncAll_, &QPushButton::clicked, this, [this] { model_->runAll(); });
    connect(open_, &QPushButton::clicked, this, [this] { actions_.openMainWindow(); });
    connect(settings_, &QPushButton::clicked, this, [this] { actions_.showSettings(); });
    connect(quit_, &QPushButton::clicked, this, [this] { actions_.quit(); });
    connect(model_, &AppModelAdapter::jobsChanged, this, [this] {
        rebuildRows();
        refresh();
    });
    connect(model_, &AppModelAdapter::statusesChanged, this, &MenuBarContent::refresh);
    connect(model_, &AppModelAdapter::lastRecordsChanged, this, &MenuBarContent::refresh);
    connect(model_, &AppModelAdapter::nextFireDatesChanged, this, &MenuBarContent::refresh);

    refreshTexts();
    refreshTint();
    rebuildRows();
    refresh();
}

int MenuBarContent::queuedCount(const AppModelInterface::StatusMap& statuses) {
    return static_cast<int>(std::count_if(statuses.begin(), statuses.end(), [](const auto& entry) {
        return entry.second.kind() == RunStatus::Kind::queued;
    }));
}

std::optional<Uuid> MenuBarContent::activeJobID(const std::vector<SyncJob>& jobs,
                                                const AppModelInterface::StatusMap& statuses) {
    for (const SyncJob& job : jobs) {
        const auto found = statuses.find(job.id);
        if (found != statuses.end() && found->second.kind() == RunStatus::Kind::running) return job.id;
    }
    return std::nullopt;
}

void MenuBarContent::rebuildRows() {
    std::map<Uuid, MenuBarJobRow*> kept;
    for (MenuBarJobRow* row : rows_) {
        rowLayout_->removeWidget(row);
        kept.emplace(row->job().id, row);
    }
    rows_.clear();
    for (const SyncJob& job : model_->jobs()) {
        MenuBarJobRow* row = nullptr;
        if (const auto found = kept.find(job.id); found != kept.end()) {
            row = found->second;
            kept.erase(found);
        } else {
            const Uuid id = job.id;
            row = new MenuBarJobRow(
                job, strings_, [this, id] { model_->runNow(id); }, [this, id] { model_->cancel(id); }, sources_,
                *clock_, rowBox_);
        }
        rowLayout_->addWidget(row);
        rows_.push_back(row);
    }
    for (auto& [id, row] : kept) delete row;
}

void MenuBarContent::refresh() {
    const auto& jobs = model_->jobs();
    const auto& statuses = model_->statuses();
    const std::optional<Uuid> active = activeJobID(jobs, statuses);
    for (std::size_t i = 0; i < rows_.size() && i < jobs.size(); ++i) {
        const SyncJob& job = jobs[i];
        MenuBarJobRow::State state;
        if (const RunStatus* status = model_->status(job.id)) state.status = *status;
        if (const RunRecord* record = model_->lastRecord(job.id)) state.lastRecord = *record;
        if (job.isEnabled) state.nextRun = model_->nextFireDate(job.id);
        state.active = active == job.id;
        rows_[i]->setValues(job, std::move(state));
    }
    const bool activeChanged = active != shownActive_;
    shownActive_ = active;
    const int queued = queuedCount(statuses);
    queued_->setText(strings_.format(QStringLiteral("Queued: %lld"), {qlonglong(queued)}, locale()));
    queued_->setVisible(queued > 0);
    empty_->setVisible(jobs.empty());
    rowBox_->setVisible(!jobs.empty());
    if (rowScroll_) rowScroll_->setVisible(!jobs.empty());
    syncAll_->setEnabled(!jobs.empty());
    fitHeight();
    if (activeChanged) revealActiveRow();
}

void MenuBarContent::revealActiveRow() {
    // Where the rows scroll, the running job is the one to see.
    if (!rowScroll_ || !shownActive_ || rowScroll_->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff) return;
    for (MenuBarJobRow* row : rows_) {
        if (row->job().id != *shownActive_) continue;
        rowBox_->layout()->activate();
        rowScroll_->ensureWidgetVisible(row, 0, 0);
        return;
    }
}

void MenuBarContent::setHeightLimit(std::optional<int> height) {
    heightLimit_ = height;
    if (heightLimit_ && !rowScroll_) {
        // The rows move into a scroll area that is as high as they are
        // until the limit cuts it.
        auto* column = static_cast<QVBoxLayout*>(body_->layout());
        const int at = column->indexOf(rowBox_);
        column->removeWidget(rowBox_);
        rowScroll_ = new RowScroll(body_);
        rowScroll_->setObjectName(QStringLiteral("jobRowScroll"));
        rowScroll_->setFrameShape(QFrame::NoFrame);
        rowScroll_->setWidgetResizable(true);
        rowScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        rowScroll_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        // The cards stand on the popup's own surface.
        rowScroll_->viewport()->setAutoFillBackground(false);
        rowScroll_->setWidget(rowBox_);
        // setWidget turns the fill on.
        rowBox_->setAutoFillBackground(false);
        rowScroll_->setVisible(!model_->jobs().empty());
        column->insertWidget(at, rowScroll_);
        ContentFit::follow(*this, *rowBox_, [this] { fitHeight(); });
    }
    fitHeight();
}

void MenuBarContent::fitHeight() {
    if (!rowScroll_ || !heightLimit_) return;
    // The rows' own layout is measured afresh on show (ContentFit); the
    // scroll area's hint, which is theirs, is not passed on by itself.
    rowScroll_->updateGeometry();
    QLayout* column = body_->layout();
    column->invalidate();
    const int rows = rowScroll_->sizeHint().height();
    int natural = column->totalSizeHint().height();
    if (rowScroll_->isVisibleTo(body_)) natural += rows - std::min(rows, rowScroll_->maximumHeight());
    const int over = natural - *heightLimit_;
    const int most = over > 0 ? std::max(0, rows - over) : QWIDGETSIZE_MAX;
    const Qt::ScrollBarPolicy policy = over > 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    // Set only what changes: a new size lays the rows out again, which
    // brings another measure.
    if (rowScroll_->verticalScrollBarPolicy() != policy) rowScroll_->setVerticalScrollBarPolicy(policy);
    if (rowScroll_->maximumHeight() != most) rowScroll_->setMaximumHeight(most);
    layout()->activate();
}

void MenuBarContent::refreshTexts() {
    const QLocale where = locale();
    header_->setText(strings_.text(QStringLiteral("Kelto Sync"), where));
    empty_->setText(strings_.text(QStringLiteral("No sync jobs yet"), where));
    syncAll_->setText(strings_.text(QStringLiteral("Sync all"), where));
    open_->setText(strings_.text(QStringLiteral("Open Kelto Sync\u2026"), where));
    settings_->setText(strings_.text(QStringLiteral("Settings\u2026"), where));
    quit_->setText(strings_.text(QStringLiteral("Quit"), where));
    // After the text: a button's text sets its shortcut to its mnemonic.
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MenuBarContent::refreshTint() {
    // The accent: selections, links and the progress the rows draw.
    PaletteTone::apply(body_, FenraTheme::accent(), QPalette::Highlight);
    PaletteTone::apply(body_, FenraTheme::accent(), QPalette::Link);
}

void MenuBarContent::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The next fire dates are not announced: read them afresh on opening.
    refresh();
    // Each opening shows the running job, wherever the rows were scrolled to.
    revealActiveRow();
}

void MenuBarContent::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refreshTexts();
        refresh();
    }
}

}  // namespace kelto
