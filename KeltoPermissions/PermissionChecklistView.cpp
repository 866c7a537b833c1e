#include "KeltoPermissions/PermissionChecklistView.h"

#include "FenraCore/ContentFit.h"
#include "FenraCore/DogEar.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/TextFormat.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "KeltoPermissions/PermissionRow.h"
#include "KeltoPermissions/internal/TileView.h"
#include "KeltoPermissions/internal/ToneLabel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace kelto {

namespace {

// The header's rounded card in the stroke colour.
class Card : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 7, 7);
        painter.fillPath(path, FenraTheme::stroke().color(palette()));
    }
};

constexpr PermissionRequirement sectionOrder[] = {PermissionRequirement::required, PermissionRequirement::recommended,
                                                  PermissionRequirement::optional};

QString heading(PermissionRequirement requirement) {
    switch (requirement) {
    case PermissionRequirement::required:
        return QStringLiteral("Required");
    case PermissionRequirement::recommended:
        return QStringLiteral("Recommended");
    case PermissionRequirement::optional:
        break;
    }
    return QStringLiteral("Optional");
}

}  // namespace

PermissionChecklistView::PermissionChecklistView(PermissionChecklist& checklist, Options options, QWidget* parent)
    : QWidget(parent), checklist_(&checklist), options_(std::move(options)) {
    const PermissionStrings& strings = checklist.strings();
    setFixedWidth(560);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* content = new QWidget;
    outer->addWidget(new FenraSurfaceFrame(FenraSurface::panel, InsettableShape::roundedRectangle(16), false, content));

    auto* column = new QVBoxLayout(content);
    column_ = column;
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    auto* card = new Card;
    auto* header = new QHBoxLayout(card);
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(16);
    header->addWidget(new TileView(options_.appSymbolName, options_.appTint, 56, card));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* title = new QLabel(options_.title, card);
    title->setTextFormat(Qt::PlainText);
    title->setFont(FenraFont::font(FontRole::title2));
    QFont semibold = title->font();
    semibold.setWeight(QFont::DemiBold);
    title->setFont(semibold);
    titles->addWidget(title);
    progress_ = new ToneLabel({}, FontRole::subheadline, &FenraTheme::info(), card);
    titles->addWidget(progress_);
    header->addLayout(titles, 1);
    column->addWidget(new DogEar(card, 12, 12));

    scroll_ = new QScrollArea;
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    column->addWidget(scroll_);

    if (options_.accessory) column->addWidget(options_.accessory(content));
    if (options_.footnote) {
        column->addWidget(new ToneLabel(*options_.footnote, FontRole::footnote, &FenraTheme::info(), content));
    }

    auto* buttons = new QHBoxLayout;
    later_ = new QPushButton(strings.string(QStringLiteral("Set up later")));
    done_ = new QPushButton(strings.string(QStringLiteral("Done")));
    // "Set up later" is a button of the default style; "Done" is the call to action.
    KeltoPrimaryButtonStyle::apply(*done_);
    buttons->addWidget(later_);
    buttons->addStretch();
    buttons->addWidget(done_);
    column->addLayout(buttons);
    connect(later_, &QPushButton::clicked, this, [this] {
        if (options_.onLater) options_.onLater();
    });
    connect(done_, &QPushButton::clicked, this, [this] {
        if (options_.onDone) options_.onDone();
    });

    connect(&checklist, &PermissionChecklist::changed, this, &PermissionChecklistView::refresh);
    refresh();
}

std::optional<QString> PermissionChecklistView::nextItemID(const PermissionChecklist& checklist) {
    for (PermissionRequirement requirement : {PermissionRequirement::required, PermissionRequirement::recommended}) {
        for (const PermissionItem& item : checklist.items()) {
            if (item.requirement == requirement && checklist.status(item.id) != PermissionStatus::granted &&
                checklist.cta(item.id) != PermissionCTA::none) {
                return item.id;
            }
        }
    }
    return std::nullopt;
}

void PermissionChecklistView::rebuildSections() {
    delete scroll_->takeWidget();
    rows_.clear();
    headings_.clear();
    sections_ = new QWidget;
    auto* stack = new QVBoxLayout(sections_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(16);
    const PermissionStrings& strings = checklist_->strings();
    for (PermissionRequirement requirement : sectionOrder) {
        std::vector<const PermissionItem*> members;
        for (const PermissionItem& item : checklist_->items()) {
            if (item.requirement == requirement) members.push_back(&item);
        }
        if (members.empty()) continue;
        auto* section = new QVBoxLayout;
        section->setSpacing(8);
        auto* label = new QLabel(strings.string(heading(requirement)));
        label->setFont(FenraFont::font(FontRole::headline));
        headings_.push_back(label->text());
        section->addWidget(label);
        for (const PermissionItem* item : members) {
            auto* row = new PermissionRow(*checklist_, *item);
            rows_.push_back(row);
            section->addWidget(row);
        }
        stack->addLayout(section);
    }
    stack->addStretch();
    scroll_->setWidget(sections_);
    // The scroll area fills what it is given with the window colour; the
    // list lies on the panel.
    sections_->setAutoFillBackground(false);
    ContentFit::follow(*this, *sections_, [this] { fitList(); });
}

void PermissionChecklistView::refresh() {
    if (!checklist_) return;
    QStringList ids;
    for (const PermissionItem& item : checklist_->items()) {
        ids.push_back(item.id + QChar(u'/') + QString::number(static_cast<int>(item.requirement)));
    }
    if (ids != shownIDs_ || sections_ == nullptr) {
        shownIDs_ = ids;
        rebuildSections();
    }
    const auto next = nextItemID(*checklist_);
    for (PermissionRow* row : rows_) row->refresh(next == row->itemID());

    const PermissionStrings& strings = checklist_->strings();
    const auto [ready, total] = checklist_->readiness();
    progress_->setText(TextFormat::format(strings.string(QStringLiteral("%lld of %lld ready")), {ready, total},
                                          strings.locale()));
    done_->setEnabled(checklist_->canFinish());
    fitList();
    if (checklist_->focusedItemID() != scrolledTo_) scrollToFocus();
}

void PermissionChecklistView::setListHeightLimit(int height) {
    listHeightLimit_ = height;
    fitList();
    scrollToFocus();
}

int PermissionChecklistView::listHeight() const {
    // Wrapped texts take more lines at less width: the list is measured at
    // the width it is laid out in, inside the view's margins.
    const QMargins margins = column_->contentsMargins();
    const int width = this->width() - margins.left() - margins.right();
    const QLayout* layout = sections_->layout();
    return layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
}

bool PermissionChecklistView::listScrolls() const {
    return sections_ != nullptr && listHeight() > listRoom();
}

void PermissionChecklistView::holdHeight(std::optional<int> height) {
    if (heldHeight_ == height) return;
    heldHeight_ = height;
    fitList();
}

int PermissionChecklistView::listRoom() const {
    if (!heldHeight_ || layout() == nullptr) return listHeightLimit_;
    // What the rest of the view takes, measured around the list as it is.
    const int rest = layout()->totalHeightForWidth(width()) - scroll_->height();
    return std::max(0, *heldHeight_ - rest);
}

void PermissionChecklistView::fitList() {
    if (sections_ == nullptr) return;
    const Qt::ScrollBarPolicy policy = listScrolls() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    const int height = heldHeight_ ? listRoom() : std::min(listHeight(), listHeightLimit_);
    // Only what changes: each change lays the list out again.
    if (scroll_->verticalScrollBarPolicy() != policy) scroll_->setVerticalScrollBarPolicy(policy);
    if (scroll_->minimumHeight() != height || scroll_->maximumHeight() != height) scroll_->setFixedHeight(height);
}

void PermissionChecklistView::scrollToFocus() {
    scrolledTo_ = checklist_ ? checklist_->focusedItemID() : std::nullopt;
    if (!scrolledTo_) return;
    PermissionRow* target = row(*scrolledTo_);
    if (target == nullptr) return;
    if (layout()) layout()->activate();
    if (sections_->layout()) sections_->layout()->activate();
    const int middle = target->mapTo(sections_, QPoint(0, target->height() / 2)).y();
    const int centred = middle - scroll_->viewport()->height() / 2;
    QScrollBar* bar = scroll_->verticalScrollBar();
    bar->setValue(std::clamp(centred, bar->minimum(), bar->maximum()));
}

PermissionRow* PermissionChecklistView::row(const QString& id) const {
    const auto found = std::find_if(rows_.begin(), rows_.end(), [&](PermissionRow* r) { return r->itemID() == id; });
    return found == rows_.end() ? nullptr : *found;
}

QStringList PermissionChecklistView::headings() const { return headings_; }

void PermissionChecklistView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        later_->click();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (done_->isEnabled()) done_->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void PermissionChecklistView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Escape and Return are the window's keys: with nothing focused they
    // would reach no one, so the view holds the focus until the user moves it.
    if (window()->focusWidget() == nullptr) setFocus(Qt::OtherFocusReason);
    scrollToFocus();
}

}  // namespace kelto
