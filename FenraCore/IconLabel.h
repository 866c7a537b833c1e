#pragma once

#include <QIcon>
#include <QLabel>

namespace kelto {

// A label that shows an icon in its contents rectangle. The icon is painted
// when the label is, at the ratio of what it is painted on, so it stays
// sharp on any screen and in any render; a pixmap made once is not.
class IconLabel : public QLabel {
public:
    explicit IconLabel(QWidget* parent = nullptr);

    void setIcon(QIcon icon);
    const QIcon& icon() const { return icon_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon icon_;
};

}  // namespace kelto
