#pragma once

#include <QString>
#include <QWidget>

#include <vector>

namespace kelto {

class SegmentButton;

// The segments of `KeltoSegmented` by position, apart from the value type:
// a row of them 2 points apart, sharing its width, inside 2 points of
// padding on a rounded stroke-coloured ground.
class SegmentedBar : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedBar(const std::vector<QString>& titles, QWidget* parent = nullptr);

    // One flag per segment, in order.
    void markSegments(const std::vector<bool>& selected);
    std::vector<bool> markedSegments() const;
    const std::vector<SegmentButton*>& segments() const { return segments_; }

signals:
    void segmentClicked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<SegmentButton*> segments_;
};

}  // namespace kelto
