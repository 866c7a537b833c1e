#pragma once

#include <QLayout>
#include <QList>

namespace kelto {

// Lays its items out side by side, top-aligned, when that fits the width it
// is given, and otherwise one under the other, leading-aligned; the same
// spacing either way.
class FittingLayout : public QLayout {
public:
    explicit FittingLayout(QWidget* parent = nullptr);
    ~FittingLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return {}; }
    void setGeometry(const QRect& rect) override;

    // Whether the items stand in one row at this width, margins included.
    bool fitsRow(int width) const;

private:
    QSize rowSize() const;
    int columnHeight(int width) const;
    int itemHeight(const QLayoutItem& item, int width) const;

    QList<QLayoutItem*> items_;
};

}  // namespace kelto
