#pragma once

#include <QMessageBox>

namespace kelto {

// The windows' message box: a warning, its texts shown as plain text (a
// job's name or an error may hold markup), and as wide as its texts: each
// text on one line up to a readable measure, and the window's title whole,
// in the bold face title bars use, with room for the title bar's icon and
// buttons, up to the width of its screen. A title wider still is shortened
// in its middle, and the message then starts with the whole of it. Qt
// sizes a message box to its first line alone, which cuts the title to a
// letter. It is centred
// on its window; one made without a parent belongs to the application's
// active window, if any. A destructive button is never the default: Return
// then cancels, as Escape does.
class AlertBox : public QMessageBox {
public:
    explicit AlertBox(QWidget* parent = nullptr);

    // Opens it over its window (window-modal), once that window is shown.
    void present();

    void setTitle(const QString& title);
    void setMessage(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void fit();
    // The message, led by the whole window title while the title bar shows it shortened.
    void showMessage();
    void keepDestructiveFromDefault();

    QString message_;
    QString wholeTitle_;
    bool fitting_ = false;
};

}  // namespace kelto
