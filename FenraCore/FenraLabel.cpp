#include "FenraCore/FenraLabel.h"

#include "FenraCore/SymbolImage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextLayout>

#include <algorithm>

namespace kelto {

FenraLabel::FenraLabel(const QString& title, const QString& symbolName, QWidget* parent, Named)
    : QWidget(parent), symbolName_(symbolName), icon_(new QLabel(this)), title_(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(icon_);
    layout->addWidget(title_, 1);
    title_->setTextFormat(Qt::PlainText);
    title_->setText(title);
    fullTitle_ = title;
    setAccessibleName(title);
    refreshIcon();
}

QString FenraLabel::title() const {
    return fullTitle_;
}

QString FenraLabel::shownTitle() const {
    return title_->text();
}

QSize FenraLabel::sizeHint() const {
    const QSize wrapped = QWidget::sizeHint();
    if (lineLimit_ <= 0) return wrapped;
    // A wrapping label guesses a narrow width of its own; this one wants its
    // title on one line and gives way from there.
    const QMargins margins = layout()->contentsMargins();
    const int oneLine = icon_->width() + layout()->spacing() + title_->contentsMargins().left() +
                        title_->contentsMargins().right() + 2 * title_->margin() +
                        title_->fontMetrics().horizontalAdvance(fullTitle_) + 1;
    return QSize(margins.left() + oneLine + margins.right(),
                 std::max(icon_->height(), title_->fontMetrics().height()) + margins.top() + margins.bottom());
}

void FenraLabel::setLineLimit(int lines) {
    lineLimit_ = lines;
    setWordWrap(lines != 1);
    title_->installEventFilter(this);
    fitTitle();
}

void FenraLabel::tintSymbolOnly(const std::optional<FenraColor>& titleColor) {
    symbolOnly_ = true;
    titleColor_ = titleColor;
    refreshTitleColor();
}

void FenraLabel::refreshTitleColor() {
    if (!symbolOnly_) return;
    // The label's own text colour is the symbol's: the appearance and the
    // surrounding text colour are read from the parent.
    // Each group from its own, so that a label disabled now is right once
    // enabled.
    QPalette judge = parentWidget() != nullptr ? parentWidget()->palette() : palette();
    judge.setCurrentColorGroup(QPalette::Active);
    QPalette own = title_->palette();
    bool changed = !title_->testAttribute(Qt::WA_SetPalette);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor wanted = titleColor_ ? titleColor_->color(judge) : judge.color(group, QPalette::WindowText);
        if (own.color(group, QPalette::WindowText) == wanted) continue;
        own.setColor(group, QPalette::WindowText, wanted);
        changed = true;
    }
    if (changed) title_->setPalette(own);
}

bool FenraLabel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == title_ && event->type() == QEvent::Resize) fitTitle();
    return QWidget::eventFilter(watched, event);
}

void FenraLabel::fitTitle() {
    if (lineLimit_ <= 0) return;
    const int width = title_->width();
    const QFontMetrics metrics = title_->fontMetrics();
    QTextLayout layout(fullTitle_, title_->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QString shown;
    for (int line = 0; line < lineLimit_; ++line) {
        QTextLine next = layout.createLine();
        if (!next.isValid()) break;
        next.setLineWidth(width);
        const QString part = fullTitle_.mid(next.textStart(), next.textLength());
        if (line + 1 == lineLimit_ && next.textStart() + next.textLength() < fullTitle_.size()) {
            // The rest of the title does not fit: the last line takes the
            // rest, cut at its end.
            shown += metrics.elidedText(fullTitle_.mid(next.textStart()), Qt::ElideRight, width);
            break;
        }
        shown += part;
    }
    layout.endLayout();
    if (width <= 0) shown = fullTitle_;
    if (title_->text() != shown) title_->setText(shown);
}

void FenraLabel::setWordWrap(bool on) {
    title_->setWordWrap(on);
    layout()->setAlignment(icon_, on ? Qt::AlignTop : Qt::Alignment());
}

void FenraLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        fitTitle();
        refreshIcon();
        break;
    case QEvent::PaletteChange:
    case QEvent::ParentChange:
        refreshTitleColor();
        refreshIcon();
        break;
    case QEvent::EnabledChange:
        refreshIcon();
        break;
    default:
        break;
    }
}

void FenraLabel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The screen, and with it the pixel ratio, is known once shown.
    refreshIcon();
}

void FenraLabel::refreshIcon() {
    const int side = title_->fontMetrics().height();
    // Qt dims the icon of a disabled label itself.
    const QIcon icon =
        SymbolImage::named(symbolName_, palette().color(QPalette::Active, QPalette::WindowText));
    icon_->setFixedSize(side, side);
    icon_->setPixmap(icon.pixmap(QSize(side, side), devicePixelRatioF(), isEnabled() ? QIcon::Normal : QIcon::Disabled));
}

}  // namespace kelto
