#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace kelto {

// Asks the user for one folder, starting in `start`; none when they cancel.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& message, const QString& start) = 0;

    // A modal file dialog: folders only, new folders allowed, one item.
    static FolderPicker& dialog();
};

}  // namespace kelto
