#pragma once

class QLabel;

namespace kelto {

// A line the editor sets under its controls, a note or an issue: in the
// caption font, a step below the controls it speaks of, free to wrap. Its
// colour (secondary or error) is the caller's.
struct EditorNote {
    static void apply(QLabel* label);
};

}  // namespace kelto
