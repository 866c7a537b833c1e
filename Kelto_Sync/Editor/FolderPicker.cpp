#include "Kelto_Sync/Editor/FolderPicker.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLocale>
#include <QTreeView>

#include <algorithm>

namespace kelto {

namespace {

class DialogFolderPicker final : public FolderPicker {
public:
    std::optional<QString> chooseFolder(QWidget* parent, const QString& message, const QString& start) override {
        const std::unique_ptr<QFileDialog> dialog = folderDialog(parent, message, start);
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog->selectedFiles().constFirst();
    }
};

}  // namespace

FolderPicker& FolderPicker::dialog() {
    static DialogFolderPicker picker;
    return picker;
}

std::unique_ptr<QFileDialog> FolderPicker::folderDialog(QWidget* parent, const QString& message, const QString& start) {
    auto dialog = std::make_unique<QFileDialog>(parent, message, start);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, message);
    // Qt's own dialog gives the date column a fixed width, which cuts a long
    // date short in the middle; the desktop's dialog, where there is one,
    // sizes its own.
    if (auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        constexpr int dateColumn = 3;
        QHeaderView* header = list->header();
        const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1) +
                            2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        const int wanted = widestDate(list->fontMetrics(), QLocale::system()) + margins;
        header->resizeSection(dateColumn, std::max(header->sectionSize(dateColumn), wanted));
    }
    return dialog;
}

int FolderPicker::widestDate(const QFontMetrics& metrics, const QLocale& locale) {
    // Digits may differ in width and names of months and day halves do:
    // every month, a one- and a two-digit day, a morning and an evening
    // hour with a two-digit minute.
    int widest = 0;
    const int year = QDate::currentDate().year();
    for (int month = 1; month <= 12; ++month) {
        for (const int day : {8, 28}) {
            for (const int hour : {8, 10, 20, 22}) {
                const QDateTime moment(QDate(year, month, day), QTime(hour, 48));
                widest = std::max(widest, metrics.horizontalAdvance(locale.toString(moment, QLocale::ShortFormat)));
            }
        }
    }
    return widest;
}

}  // namespace kelto
