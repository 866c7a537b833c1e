#pragma once

#include <QString>

namespace kelto {

// Qt draws a tool tip that looks like markup as rich text, and has no
// switch for plain text: a name, a path or a message given to a tool tip
// goes through here, so that it shows as it is.
struct PlainToolTip {
    static QString text(const QString& plain);
};

}  // namespace kelto
