#pragma once

#include "Kelto_Sync/Editor/EditorSection.h"
#include "SyncModel/ValidationReport.h"

#include <QUrl>

#include <array>
#include <filesystem>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace kelto {

class FolderPicker;
class FolderSideRow;

// "Folders": the two sides of a job, chosen with a picker or by a drop,
// a swap, the validation errors that concern folders, and the error of the
// last failed choice.
//
// A chosen folder becomes an endpoint on a worker thread. Each side counts
// its choices, and a result that arrives after a newer choice of the same
// side is dropped, so a slow lookup never overwrites a later choice.
class FoldersSection : public EditorSection {
public:
    enum class Side { source, destination };

    struct Services {
        std::function<Endpoint(const std::filesystem::path&)> endpoint;
        // Runs work off the GUI thread.
        std::function<void(std::function<void()>)> runInBackground;
        FolderPicker* picker = nullptr;
        // The volume inspector on the thread pool, the file dialog.
        static Services system();
    };

    FoldersSection(SyncStrings strings, Report report, Services services = Services::system(),
                   QWidget* parent = nullptr);

    void setValidation(const std::vector<ValidationIssue>& errors);

    static bool isFolderIssue(ValidationIssue issue);
    // The first dropped URL when it is an existing local folder.
    static std::optional<QString> droppedFolder(const QList<QUrl>& urls);
    static SyncJob swapped(SyncJob job);
    // "Choose or drop a folder", or the path over the volume's name.
    static QString subtitle(const Endpoint& side, const SyncStrings& strings, const QLocale& locale);
    // Where the picker opens for a side: its folder while that exists, else
    // the home folder (never the program's working folder).
    static QString startFolder(const Endpoint& side);

    void choose(Side side);
    // False when the drop is refused.
    bool drop(Side side, const QList<QUrl>& urls);
    void apply(Side side, const QString& folder);

    FolderSideRow* sideRow(Side side) const { return side == Side::source ? source_ : destination_; }
    QPushButton* swapButton() const { return swap_; }
    QWidget* issues() const { return issues_; }
    QLabel* errorLabel() const { return error_; }

protected:
    void refresh() override;

private:
    struct Outcome {
        std::optional<Endpoint> endpoint;
        QString error;
    };
    void finish(Side side, std::uint64_t generation, const Outcome& outcome);
    void showError(const std::optional<QString>& error);

    Services services_;
    std::array<std::uint64_t, 2> generation_{};
    std::vector<ValidationIssue> validation_;
    std::optional<QString> errorText_;
    FolderSideRow* source_;
    FolderSideRow* destination_;
    QPushButton* swap_;
    QWidget* issues_;
    QVBoxLayout* issuesLayout_;
    QLabel* error_;
};

// One side's row: a settings row with a "Choose…" button, taking drops over
// its whole area.
class FolderSideRow : public QWidget {
public:
    FolderSideRow(QString title, std::function<void()> choose, std::function<bool(const QList<QUrl>&)> drop,
                  QWidget* parent);
    void setSubtitle(const QString& subtitle, const QString& chooseTitle);
    QString subtitle() const { return subtitle_; }
    QPushButton* chooseButton() const { return choose_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QString title_;
    QString subtitle_;
    std::function<void()> chooseAction_;
    std::function<bool(const QList<QUrl>&)> drop_;
    QVBoxLayout* layout_;
    QWidget* row_ = nullptr;
    QPushButton* choose_ = nullptr;
};

}  // namespace kelto
