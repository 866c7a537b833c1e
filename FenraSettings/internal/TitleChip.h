#pragma once

#include <QLabel>

namespace kelto {

// A choice tile's title in the caption font, wrapping rather than cut off:
// navy on a kelto capsule when its tile is selected, the primary text colour
// on nothing otherwise.
class TitleChip : public QLabel {
    Q_OBJECT

public:
    explicit TitleChip(const QString& title, QWidget* parent = nullptr);

    void setSelected(bool selected);
    QColor textColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool selected_ = false;
};

}  // namespace kelto
