#pragma once

#include <QObject>

class QFont;

namespace kelto {

// Shows every widget's tool tip at a width that suits reading: on one line
// up to about 45 average characters, wrapped at that width beyond. Qt shows
// plain text on one line however long, and wraps rich text into a narrow
// column of its own choosing (a long name came out five lines of some
// 110 pixels). Installed on the application by the kit's style.
class ToolTipShaper : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The tool tip's text as rich text of a set width, for `font`.
    static QString shaped(const QString& text, const QFont& font);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace kelto
