#pragma once

#include <QPointer>
#include <QWidget>

#include "KeltoPermissions/AppInstallLocation.h"
#include "KeltoPermissions/PermissionChecklist.h"

#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace kelto {

class AppDragTile;
class PermissionStatusLabel;

// What sits beside the settings while the user grants one item: the steps
// for its destination, the application to drag in where a privacy list
// wants it, the live status, hints when the switch did not take, the way
// back and, when needed, a restart. 300 wide. Follows the checklist.
class CompanionContent : public QWidget {
    Q_OBJECT
public:
    // Shows the file selected in the file manager, then tells `shown`
    // whether it did.
    using Reveal = std::function<void(const QString& path, std::function<void(bool shown)> shown)>;

    CompanionContent(PermissionChecklist& checklist, PermissionItem item, QString bundlePath,
                     AppInstallLocation installLocation, std::function<void()> onBack, QWidget* parent = nullptr);

    // FileRevealer unless a test says otherwise.
    void setReveal(Reveal reveal) { reveal_ = std::move(reveal); }
    void revealInFileManager();

    AppDragTile* dragTile() const { return dragTile_; }
    PermissionStatusLabel* statusLabel() const { return status_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* restartButton() const { return restart_; }
    QPushButton* showButton() const { return show_; }
    // Under the button when no file manager showed the application, until
    // the next press.
    QLabel* showFailedLabel() const { return showFailed_; }
    QLabel* showFailedPathLabel() const { return showFailedPath_; }
    // The texts of the visible labels, top to bottom.
    QStringList visibleTexts() const;

private:
    void refresh();
    QString text(const QString& key) const;
    bool privacyPane() const;

    QPointer<PermissionChecklist> checklist_;
    PermissionItem item_;
    QString bundlePath_;
    AppInstallLocation installLocation_;
    std::function<void()> onBack_;
    Reveal reveal_;
    QWidget* content_;
    AppDragTile* dragTile_ = nullptr;
    QPushButton* show_ = nullptr;
    QLabel* showFailed_ = nullptr;
    QLabel* showFailedPath_ = nullptr;  // selectable, to be copied where no file manager shows it
    PermissionStatusLabel* status_;
    QLabel* stillNotWorking_ = nullptr;
    QPushButton* back_;
    QPushButton* restart_;
};

}  // namespace kelto
