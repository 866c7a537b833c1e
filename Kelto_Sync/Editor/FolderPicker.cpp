#include "Kelto_Sync/Editor/FolderPicker.h"

#include <QFileDialog>

namespace kelto {

namespace {

class DialogFolderPicker final : public FolderPicker {
public:
    std::optional<QString> chooseFolder(QWidget* parent, const QString& message, const QString& start) override {
        QFileDialog dialog(parent, message, start);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setLabelText(QFileDialog::Accept, message);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().constFirst();
    }
};

}  // namespace

FolderPicker& FolderPicker::dialog() {
    static DialogFolderPicker picker;
    return picker;
}

}  // namespace kelto
