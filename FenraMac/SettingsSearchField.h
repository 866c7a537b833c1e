#pragma once

#include "FenraCore/Binding.h"

#include <QLineEdit>
#include <QPointer>

namespace kelto {

// The settings search field: writes the query at every keystroke, shows it
// when it changes from outside, offers a clear button, and on Escape clears
// both, keeping the key from anything around it. Its placeholder and
// accessible name follow the widget's locale. It asks for 212 by 30 points.
class SettingsSearchField : public QLineEdit {
    Q_OBJECT

public:
    explicit SettingsSearchField(Binding<QString>& query, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshTexts();
    void showQuery();

    QPointer<Binding<QString>> query_;
};

}  // namespace kelto
