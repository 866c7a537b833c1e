#include "KeltoDesign/internal/SegmentedBar.h"

#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/internal/SegmentButton.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace kelto {

SegmentedBar::SegmentedBar(const std::vector<QString>& titles, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    int widest = 0;
    for (const QString& title : titles) {
        auto* segment = new SegmentButton(title, this);
        const int index = static_cast<int>(segments_.size());
        connect(segment, &QAbstractButton::clicked, this, [this, index] { emit segmentClicked(index); });
        segments_.push_back(segment);
        widest = std::max(widest, segment->labelWidth());
    }
    // Equal hints and stretches share the row's width evenly.
    for (SegmentButton* segment : segments_) {
        segment->setMinimumWidth(widest + 16);
        layout->addWidget(segment, 1);
    }
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void SegmentedBar::markSegments(const std::vector<bool>& selected) {
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        segments_[i]->setSelected(i < selected.size() && selected[i]);
    }
}

std::vector<bool> SegmentedBar::markedSegments() const {
    std::vector<bool> marked;
    for (const SegmentButton* segment : segments_) {
        marked.push_back(segment->isSelected());
    }
    return marked;
}

void SegmentedBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath ground;
    ground.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(ground, FenraTheme::stroke().color(palette()));
}

}  // namespace kelto
