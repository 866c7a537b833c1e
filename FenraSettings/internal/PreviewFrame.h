#pragma once

#include <QWidget>

namespace kelto {

// A choice tile's preview: the picture centred with 12 points around it, at
// least 100 by 64 points, on the theme's stroke colour in a rounded
// rectangle bordered inside by the separator (1 point under increased
// contrast, else 0.5).
class PreviewFrame : public QWidget {
    Q_OBJECT

public:
    static constexpr double cornerRadius = 12;

    explicit PreviewFrame(QWidget* preview, QWidget* parent = nullptr);

    // The border's width now.
    static double borderWidth();

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelto
