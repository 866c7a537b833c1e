#pragma once

class QWidget;

namespace kelto {

// The secondary style of the windows' texts (captions, notes, descriptions,
// the version line): the theme's secondary text colour, which stands at
// least 4.5:1 from the window in either look. The palette's placeholder
// colour is for empty fields only; as body text it reads too faint.
struct SecondaryText {
    static void apply(QWidget* widget);
};

}  // namespace kelto
