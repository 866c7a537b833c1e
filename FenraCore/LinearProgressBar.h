#pragma once

#include <QProgressBar>

namespace kelto {

// A determinate progress bar as the desktop draws one: a thin rounded
// track, faint in the text colour so that it shows on any background, and
// the done part in the highlight colour, the tint of the view around it.
// Its thickness is its own, whatever the font or the row it stands in.
class LinearProgressBar : public QProgressBar {
public:
    static constexpr int thickness = 6;

    explicit LinearProgressBar(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelto
