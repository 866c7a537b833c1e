#pragma once

#include <QObject>
#include <QProcessEnvironment>

#include <memory>

namespace kelto {

class UpdateFeed;

// The application's one handle on updates: it holds the update feed
// without starting it, starts it once at the end of start-up (never in
// render-test mode) and mirrors two of its values for the settings window.
class Updater : public QObject {
    Q_OBJECT

public:
    struct StartPolicy {
        bool started = false;
        // False only when KELTO_SYNC_RENDER_TESTS is exactly "1".
        static bool shouldStart(const QProcessEnvironment& environment);
    };

    explicit Updater(std::unique_ptr<UpdateFeed> feed, QObject* parent = nullptr);
    ~Updater() override;

    void start();
    bool started() const { return startPolicy_.started; }

    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    bool automaticallyChecksForUpdates() const { return automaticallyChecksForUpdates_; }
    // Stores the value, then hands it to the feed, at every write.
    void setAutomaticallyChecksForUpdates(bool on);
    UpdateFeed& controller() const { return *feed_; }

signals:
    void canCheckForUpdatesChanged(bool can);
    void automaticallyChecksForUpdatesChanged(bool on);

private:
    void setCanCheck(bool can);

    std::unique_ptr<UpdateFeed> feed_;
    bool canCheckForUpdates_ = false;
    bool automaticallyChecksForUpdates_ = false;
    StartPolicy startPolicy_;
};

}  // namespace kelto
