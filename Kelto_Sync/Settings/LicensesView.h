#pragma once

#include "Kelto_Sync/SyncStrings.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kelto {

// The licence text the application ships and, when the bundle carries it,
// the rsync source archive, which "Show bundled source" reveals in the file
// manager. Reads the folder afresh at every showing; writes nothing.
class LicensesView : public QDialog {
    Q_OBJECT

public:
    static constexpr int fixedWidth = 640;
    static constexpr int fixedHeight = 500;

    // `folder`: the bundle's Contents/Resources/Licenses.
    LicensesView(SyncStrings strings, QString folder, QWidget* parent = nullptr);

    QString license() const { return license_; }
    std::optional<QString> source() const { return source_; }
    QString notice() const;
    QLabel* archiveLabel() const { return archive_; }
    QPushButton* revealButton() const { return reveal_; }
    // Under the button when no file manager showed the archive, until the
    // next press.
    QLabel* revealFailedLabel() const { return revealFailed_; }
    QPushButton* closeButton() const { return close_; }
    QPlainTextEdit* textView() const { return text_; }

    // Reads COPYING (strictly UTF-8) and the first ".tar.gz" entry in the
    // folder's own order; on a failure the text becomes its description.
    void load();

signals:
    void loaded();
    // The file manager took the archive, or its folder's opener opened it.
    void revealed(bool shown);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    SyncStrings strings_;
    QString folder_;
    QString license_;
    std::optional<QString> source_;
    QLabel* notice_;
    QLabel* archive_;
    QPushButton* reveal_;
    QLabel* revealFailed_;
    QPushButton* close_;
    QPlainTextEdit* text_;
};

}  // namespace kelto
