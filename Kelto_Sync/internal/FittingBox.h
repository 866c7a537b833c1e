#pragma once

#include <QWidget>

class QBoxLayout;

namespace kelto {

// Its children side by side when their widths fit, else stacked: the first
// of two arrangements that fits the width it is given.
class FittingBox : public QWidget {
    Q_OBJECT

public:
    FittingBox(int rowSpacing, int columnSpacing, QWidget* parent = nullptr);

    void addWidget(QWidget* widget);
    bool stacked() const;

    // As narrow as the widest child, so that the parent can make it stack.
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int rowWidth() const;
    void arrange(int width);

    int rowSpacing_;
    int columnSpacing_;
    QBoxLayout* layout_;
};

}  // namespace kelto
