#include "Kelto_Sync/Main/JobSidebarRow.h"

#include "FenraCore/FenraIcon.h"
#include "FenraCore/FoldedTileView.h"
#include "Kelto_Sync/ModeDisplay.h"
#include "Kelto_Sync/PlainToolTip.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"

#include <QAccessible>
#include <QApplication>
#include <QAccessibleWidget>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <QVBoxLayout>

namespace kelto {

namespace {
constexpr int tileSide = 20;

// Qt widgets have no accessible value of their own: the row supplies one.
class RowAccessible : public QAccessibleWidget {
public:
    explicit RowAccessible(JobSidebarRow* row) : QAccessibleWidget(row, QAccessible::ListItem) {}
    QString text(QAccessible::Text kind) const override {
        const auto* row = static_cast<const JobSidebarRow*>(widget());
        if (kind == QAccessible::Value) return row->accessibleValue();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* rowAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("kelto::JobSidebarRow") && object->isWidgetType()) {
        return new RowAccessible(static_cast<JobSidebarRow*>(object));
    }
    return nullptr;
}

constexpr int rowInset = 8;

}  // namespace

JobSidebarRow::JobSidebarRow(SyncJob job, std::optional<RunStatus> status, std::optional<RunOutcome> outcome,
                             SyncStrings strings, DeviceDot::Sources sources, QWidget* parent)
    : QWidget(parent), job_(std::move(job)), strings_(strings) {
    static const bool installed = (QAccessible::installFactory(rowAccessible), true);
    (void)installed;
    setFixedHeight(48);
    auto* layout = new QHBoxLayout(this);
    // A list row's own inset on either side keeps the tile, the dot and the
    // percentage off the list's edges.
    layout->setContentsMargins(rowInset, 4, rowInset, 4);
    layout->setSpacing(8);
    tile_ = new FoldedTileView(tileSide, this);
    tile_->setObjectName(QStringLiteral("modeTile"));
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    auto* nameLine = new QHBoxLayout;
    nameLine->setSpacing(4);
    name_ = new QLabel(this);
    name_->setObjectName(QStringLiteral("jobName"));
    name_->setTextFormat(Qt::PlainText);
    name_->setFixedHeight(18);
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    name_->installEventFilter(this);
    dot_ = new DeviceDot(job_, strings_, std::move(sources), this);
    nameLine->addWidget(name_, 1);
    nameLine->addWidget(dot_);
    slot_ = new JobStatusSlot(std::move(status), job_.isEnabled, std::move(outcome), strings_, this);
    column->addLayout(nameLine);
    column->addWidget(slot_);
    layout->addWidget(tile_, 0, Qt::AlignVCenter);
    layout->addLayout(column, 1);
    refresh();
}

void JobSidebarRow::setValues(const SyncJob& job, std::optional<RunStatus> status, std::optional<RunOutcome> outcome) {
    job_ = job;
    dot_->setJob(job_);
    slot_->setValues(std::move(status), job_.isEnabled, std::move(outcome));
    refresh();
}

QString JobSidebarRow::modeLabel() const { return strings_.text(ModeDisplay::label(job_.mode), locale()); }

QString JobSidebarRow::accessibleValue() const {
    return slot_->caption() + strings_.text(QStringLiteral(", "), locale()) + modeLabel();
}

void JobSidebarRow::setSelected(bool selected, bool emphasised) {
    if (selected_ == selected && emphasised_ == emphasised) return;
    selected_ = selected;
    emphasised_ = emphasised;
    followSelection();
}

void JobSidebarRow::followSelection() {
    // Unselected, the row inherits the list's palette; selected, the
    // selection is its window and the selection's text its text, so that
    // theme colours resolve for the appearance of the selection.
    const QPalette list = parentWidget() != nullptr ? parentWidget()->palette() : QApplication::palette();
    QPalette wanted = list;
    if (selected_) {
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const auto drawn = emphasised_ ? group : QPalette::Inactive;
            const QColor selection = list.color(drawn, QPalette::Highlight);
            const QColor ink = list.color(drawn, QPalette::HighlightedText);
            wanted.setColor(group, QPalette::Window, selection);
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
                wanted.setColor(group, role, ink);
            }
        }
    }
    if (!selected_) {
        if (testAttribute(Qt::WA_SetPalette)) setPalette(QPalette());
    } else if (palette() != wanted || !testAttribute(Qt::WA_SetPalette)) {
        setPalette(wanted);
    }
    refresh();
}

void JobSidebarRow::refresh() {
    const FenraIcon symbol = ModeDisplay::symbol(job_.mode);
    const TileTint tint = ModeDisplay::tint(job_.mode);
    const std::optional<QColor> ring =
        selected_ ? FoldedTile::ring(tint, palette().color(QPalette::Window), palette().color(QPalette::WindowText))
                  : std::nullopt;
    tile_->setTile(FoldedTile(symbol, tint, tileSide), ring);
    tile_->setProperty("symbol", symbolName(symbol));
    tile_->setProperty("tint", static_cast<int>(tint));
    const QString name = QString::fromStdString(job_.name);
    // One line, cut at its end; the whole name is in the help text.
    name_->setText(name_->fontMetrics().elidedText(name, Qt::ElideRight, std::max(0, name_->width())));
    name_->setToolTip(PlainToolTip::text(name));
    setAccessibleName(name);
    setToolTip(PlainToolTip::text(name + strings_.text(QStringLiteral(" \u2014 "), locale()) + modeLabel()));
}

bool JobSidebarRow::eventFilter(QObject* watched, QEvent* event) {
    // The name is cut to the width its label ends up with.
    if (watched == name_ && event->type() == QEvent::Resize) refresh();
    return QWidget::eventFilter(watched, event);
}

void JobSidebarRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) refresh();
    // The list's palette changed: a selected row takes the new selection.
    if (event->type() == QEvent::PaletteChange) selected_ ? followSelection() : refresh();
}

}  // namespace kelto
