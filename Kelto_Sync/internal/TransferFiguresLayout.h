#pragma once

#include <QLayout>

#include <vector>

namespace kelto {

// The bytes, rate and time-left texts of a transfer on one line (the bytes
// at the leading edge, the rest at the trailing edge) when the width holds
// them with 8 pixels between each, else the bytes above a line of the rate
// and the time left, 4 pixels apart. Hidden texts take no room.
class TransferFiguresLayout : public QLayout {
public:
    TransferFiguresLayout(QWidget* bytes, QWidget* rate, QWidget* eta, QWidget* parent);
    ~TransferFiguresLayout() override;

    static constexpr int spacing = 8;
    static constexpr int lineSpacing = 4;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    void setGeometry(const QRect& rect) override;

private:
    QLayoutItem* shown(int index) const;  // null when absent or hidden
    int wideWidth() const;
    int trailingWidth() const;  // rate and time left side by side
    int wideHeight() const;
    int narrowHeight() const;

    std::vector<QLayoutItem*> items_;
};

}  // namespace kelto
