#pragma once

#include "FenraCore/FenraColor.h"

#include <QObject>

class QWidget;

namespace kelto {

// Keeps a widget's text in a theme colour for the appearance of the palette
// it inherits, resolved anew whenever that palette changes.
class TextTone : public QObject {
    Q_OBJECT

public:
    // A second call on the same widget replaces its colour.
    static void apply(QWidget* widget, const FenraColor& color);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TextTone(QWidget* widget, const FenraColor& color);
    void recolour();

    QWidget* widget_;
    FenraColor color_;
};

}  // namespace kelto
