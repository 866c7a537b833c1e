#include "KeltoPermissions/PermissionStatusLabel.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/SymbolImage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace kelto {

PermissionStatusLabel::PermissionStatusLabel(PermissionStatus status, const QString& title,
                                             PermissionPresentation presentation, QWidget* parent)
    : QWidget(parent), status_(status), presentation_(presentation), icon_(new IconLabel(this)), title_(new QLabel(this)) {
    setFont(FenraFont::font(FontRole::subheadline));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(icon_);
    layout->addWidget(title_, 1);
    title_->setTextFormat(Qt::PlainText);
    set(status, title, presentation);
}

void PermissionStatusLabel::set(PermissionStatus status, const QString& title, PermissionPresentation presentation) {
    status_ = status;
    presentation_ = presentation;
    title_->setText(title);
    setAccessibleName(title);
    refreshIcon();
}

QString PermissionStatusLabel::title() const { return title_->text(); }

FenraIconStatus PermissionStatusLabel::tone(PermissionStatus status, PermissionPresentation presentation) {
    switch (status) {
    case PermissionStatus::granted:
        return FenraIconStatus::success;
    case PermissionStatus::missing:
        return presentation == PermissionPresentation::setting ? FenraIconStatus::info : FenraIconStatus::warning;
    case PermissionStatus::denied:
    case PermissionStatus::needsApproval:
    case PermissionStatus::restartRequired:
        return FenraIconStatus::warning;
    case PermissionStatus::checking:
    case PermissionStatus::unverifiable:
        break;
    }
    return FenraIconStatus::info;
}

void PermissionStatusLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) refreshIcon();
}

void PermissionStatusLabel::refreshIcon() {
    const FenraIconStatus t = tone();
    const int side = fontMetrics().height();
    icon_->setFixedSize(side, side);
    icon_->setIcon(SymbolImage::icon(FenraIconStatuses::icon(t), FenraIconStatuses::color(t).color(palette())));
    icon_->setObjectName(symbolName(FenraIconStatuses::icon(t)));
}

}  // namespace kelto
