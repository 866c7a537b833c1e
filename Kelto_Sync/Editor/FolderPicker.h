#pragma once

#include <QString>

#include <memory>
#include <optional>

class QFileDialog;
class QFontMetrics;
class QLocale;
class QWidget;

namespace kelto {

// Asks the user for one folder, starting in `start`; none when they cancel.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& message, const QString& start) = 0;

    // A modal file dialog: folders only, new folders allowed, one item.
    static FolderPicker& dialog();
    // The dialog it shows, whose date column fits the widest date of the
    // system's locale.
    static std::unique_ptr<QFileDialog> folderDialog(QWidget* parent, const QString& message, const QString& start);
    // The widest date and time a list shows in `locale`'s short format, in
    // `metrics`: the month, day and hour that take the most room.
    static int widestDate(const QFontMetrics& metrics, const QLocale& locale);
};

}  // namespace kelto
