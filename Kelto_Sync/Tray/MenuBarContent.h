#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QWidget>

#include "Kelto_Sync/Status/DeviceDot.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/AppModelInterface.h"
#include "SyncModel/Support/Clock.h"

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace kelto {

class AppModelAdapter;
class MenuBarJobRow;

// What the tray's popup shows: every job as a card with its live state, the
// number of queued runs, and the application's commands. It keeps no state
// of its own; it follows the model and asks the model, or the actions it is
// given, for everything. Its width is fixed and its height follows the
// number of jobs; only where that would pass the height it is given do the
// job rows scroll, so that the commands stay on the screen, and then the
// running job's row is scrolled into view.
class MenuBarContent : public QWidget {
    Q_OBJECT

public:
    static constexpr int contentWidth = 360;
    // The corner radius of its surface, a rounded rectangle as large as it is.
    static constexpr double surfaceRadius = 16;

    // What the commands below the jobs call; an absent action hides its
    // button.
    struct Actions {
        // Opens the main window and brings the application forward.
        std::function<void()> openMainWindow;
        std::function<void()> showSettings;
        // Asks the application to quit; whether it does is the application's call.
        std::function<void()> quit;
    };

    MenuBarContent(AppModelAdapter& model, SyncStrings strings, Actions actions,
                   DeviceDot::Sources sources = DeviceDot::Sources::system(),
                   const Clock& clock = SystemClock::shared(), QWidget* parent = nullptr);

    // Runs waiting to start; running and parked runs are not counted.
    static int queuedCount(const AppModelInterface::StatusMap& statuses);
    // The first listed job that is running.
    static std::optional<Uuid> activeJobID(const std::vector<SyncJob>& jobs,
                                           const AppModelInterface::StatusMap& statuses);

    // In the order of the model's jobs.
    const std::vector<MenuBarJobRow*>& rows() const { return rows_; }
    QPushButton* syncAllButton() const { return syncAll_; }
    QPushButton* openButton() const { return open_; }
    QPushButton* settingsButton() const { return settings_; }
    QPushButton* quitButton() const { return quit_; }
    // Made by the first height limit; null before.
    QScrollArea* rowScroll() const { return rowScroll_; }

    // The most the content may be high (the screen's available height);
    // none by default.
    void setHeightLimit(std::optional<int> height);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void rebuildRows();
    void refresh();
    void refreshTexts();
    void refreshTint();
    void fitHeight();
    void revealActiveRow();

    AppModelAdapter* model_;
    SyncStrings strings_;
    Actions actions_;
    DeviceDot::Sources sources_;
    const Clock* clock_;
    std::vector<MenuBarJobRow*> rows_;

    QWidget* body_;
    QLabel* header_;
    QLabel* empty_;
    QWidget* rowBox_;
    QVBoxLayout* rowLayout_;
    QScrollArea* rowScroll_;
    std::optional<int> heightLimit_;
    std::optional<Uuid> shownActive_;
    QLabel* queued_;
    QPushButton* syncAll_;
    QPushButton* open_;
    QPushButton* settings_;
    QPushButton* quit_;
};

}  // namespace kelto
