#pragma once

#include "FenraCore/FenraColor.h"
#include "FenraCore/FenraSymbol.h"

#include <QWidget>

namespace kelto {

// One glyph in one tint, `size` points square and centred. The tint is
// resolved for the palette the icon is drawn with, so a dark palette shows
// its dark value. Decoration only.
class KeltoMonochromeIcon : public QWidget {
    Q_OBJECT

public:
    KeltoMonochromeIcon(const FenraSymbol auto& symbol, double size, const FenraColor& tint, QWidget* parent = nullptr)
        : KeltoMonochromeIcon(symbolNameOf(symbol), size, tint, parent) {}
    KeltoMonochromeIcon(const QString& symbolName, double size, const FenraColor& tint, QWidget* parent = nullptr);

    QString symbolName() const { return symbolName_; }
    double glyphSize() const { return size_; }
    const FenraColor& tint() const { return tint_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbolName_;
    double size_;
    FenraColor tint_;
};

}  // namespace kelto
