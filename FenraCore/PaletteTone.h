#pragma once

#include "FenraCore/FenraColor.h"

#include <QObject>
#include <QPalette>

#include <functional>
#include <map>

class QWidget;

namespace kelto {

// Keeps roles of a widget's palette (its text, unless told) in theme
// colours for the look of the palette it inherits, resolved anew whenever
// that palette changes: the desktop switches between light and dark while
// the program runs. Each colour group gets its own colour, so a widget
// that is disabled when the look changes shows the right colours once it
// is enabled again. A colour a view takes from the theme or from its
// surroundings into a palette is set through here, never once by hand.
class PaletteTone : public QObject {
    Q_OBJECT

public:
    // A colour worked out from the inherited palette, for one group.
    using Derive = std::function<QColor(const QPalette& inherited, QPalette::ColorGroup group)>;

    // A second call for the same widget and role replaces its colour.
    static void apply(QWidget* widget, const FenraColor& color, QPalette::ColorRole role = QPalette::WindowText);
    static void apply(QWidget* widget, Derive derive, QPalette::ColorRole role = QPalette::WindowText);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit PaletteTone(QWidget* widget);
    void recolour();

    QWidget* widget_;
    std::map<QPalette::ColorRole, Derive> tones_;
};

}  // namespace kelto
