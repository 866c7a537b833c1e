#include "Kelto_Sync/Editor/ModeSection.h"

#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTile.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/SymbolImage.h"
#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/ModeDisplay.h"
#include "Kelto_Sync/internal/PaletteFollower.h"
#include "Kelto_Sync/SecondaryText.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kelto {

ModeSection::ModeSection(SyncStrings strings, Report report, QWidget* parent)
    : EditorSection(strings, std::move(report), parent) {
    auto* column = new QVBoxLayout(this);
    picker_ = new QComboBox;
    // Its texts arrive with the job, after the first layout.
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const SyncMode mode : order) {
        picker_->addItem(QString(), static_cast<int>(mode));
    }
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        SyncJob next = job();
        next.mode = static_cast<SyncMode>(picker_->itemData(index).toInt());
        this->report(next);
    });
    column->addWidget(new SettingsRow(text("How"), std::nullopt, [this] { return picker_; }));

    auto* about = new QHBoxLayout;
    about->setSpacing(12);
    tile_ = new ModeTile(this);
    description_ = new QLabel(this);
    description_->setWordWrap(true);
    SecondaryText::apply(description_);
    about->addWidget(tile_, 0, Qt::AlignTop);
    about->addWidget(description_, 1, Qt::AlignTop);
    column->addLayout(about);

    warning_ = new QWidget(this);
    auto* warningRow = new QHBoxLayout(warning_);
    warningRow->setContentsMargins(0, 0, 0, 0);
    warningIcon_ = new IconLabel(warning_);
    warningIcon_->setFixedSize(12, 12);
    PaletteFollower::follow(warningIcon_, [](QWidget& drawn) {
        static_cast<IconLabel&>(drawn).setIcon(
            SymbolImage::icon(FenraIcon::warning, FenraTheme::warning().color(drawn.palette())));
    });
    warningText_ = new QLabel(warning_);
    warningText_->setWordWrap(true);
    warningRow->addWidget(warningIcon_);
    warningRow->addWidget(warningText_, 1);
    column->addWidget(warning_);
    refresh();
}

bool ModeSection::showsArchiveOffWarning(const SyncJob& job) {
    return !job.options.archiveEnabled && job.mode != SyncMode::copy;
}

void ModeSection::refresh() {
    const QLocale where = locale();
    picker_->setAccessibleName(text("How"));
    for (int index = 0; index < picker_->count(); ++index) {
        picker_->setItemText(index, strings().text(ModeDisplay::label(order[index]), where));
    }
    {
        const QSignalBlocker quiet(picker_);
        picker_->setCurrentIndex(picker_->findData(static_cast<int>(job().mode)));
    }
    tile_->setMode(ModeDisplay::symbol(job().mode), ModeDisplay::tint(job().mode));
    description_->setText(strings().text(ModeDisplay::description(job().mode), where));
    warning_->setVisible(showsArchiveOffWarning(job()));
    warningText_->setText(text("Archive is off. Deleted and overwritten files cannot be recovered."));
}

ModeTile::ModeTile(QWidget* parent) : QWidget(parent) { setFixedSize(28, 28); }

void ModeTile::setMode(FenraIcon symbol, TileTint tint) {
    symbol_ = symbol;
    tint_ = tint;
    update();
}

void ModeTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    FoldedTile(symbol_, tint_, 28).paint(painter, QPointF(0, 0), palette());
}

}  // namespace kelto
