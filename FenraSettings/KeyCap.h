#pragma once

#include <QLabel>

namespace kelto {

// A key or shortcut, shown verbatim in the body font with digits of equal
// width, on a capsule of the theme's stroke colour.
class KeyCap : public QLabel {
    Q_OBJECT

public:
    explicit KeyCap(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelto
