#pragma once

#include <QLineEdit>

namespace kelto {

// The editor's job name. Coming into it by any way but a click leaves the
// name whole, the cursor at its end and nothing selected, so a key adds to
// the name rather than replacing it. Away from the keyboard it shows a long
// name's beginning, cut at its end. Locked while its job runs, it is drawn
// disabled, on the window's colour, with its text in the label colour.
class NameField : public QLineEdit {
public:
    explicit NameField(QWidget* parent = nullptr);

    // What the field shows now: the name, or its beginning when it is too
    // long and the field is not being typed in. Locked, it keeps the colour of
// its text.
    QString shownText() const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textArea() const;
};

}  // namespace kelto
