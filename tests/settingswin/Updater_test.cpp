#include "Kelto_Sync/Settings/UpdateWindow.h"
#include "tests/settingswin/SettingsFixture.h"

#include <QFile>
#include <QSignalSpy>
#include <QUrl>

namespace kelto {
namespace {

class UpdaterTest : public test::SettingsFixture {
protected:
    // A file:// feed with the given content, or a missing file.
    QString feedURL(const std::optional<QByteArray>& json) {
        const QString path = home.path() + QStringLiteral("/feed.json");
        QFile::remove(path);
        if (json) {
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*json);
        }
        return QUrl::fromLocalFile(path).toString();
    }
    // Runs one user check and returns what it found.
    UpdateCheckResult userCheck(const std::optional<QByteArray>& json) {
        test::RecordingFeed* feed = nullptr;
        auto updater = makeUpdater(feedURL(json), &feed);
        updater->start();
        QSignalSpy checked(feed, &UpdateFeed::checked);
        updater->controller().checkForUpdates();
        EXPECT_FALSE(updater->canCheckForUpdates()) << "no second check while one runs";
        updater->controller().checkForUpdates();
        EXPECT_TRUE(checked.wait());
        EXPECT_EQ(checked.size(), 1);
        EXPECT_TRUE(updater->canCheckForUpdates());
        EXPECT_EQ(presented.size(), 1u);
        return presented.empty() ? UpdateCheckResult{} : presented.back();
    }
};

// No check before the start, which happens once, and never when the
// render-test variable is exactly "1"; without a feed a check says so.
TEST_F(UpdaterTest, StartsOnceAndNeverInRenderTestMode) {
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater({}, &feed);
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->controller().checkForUpdates();
    EXPECT_TRUE(presented.empty());
    updater->start();
    updater->start();
    EXPECT_EQ(feed->starts, 1);
    EXPECT_TRUE(updater->canCheckForUpdates());
    updater->controller().checkForUpdates();
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].kind, UpdateCheckResult::Kind::noFeed);
    EXPECT_EQ(UpdateWindow(presented[0]).message(),
              "No update feed is configured for this build, so Kelto Sync cannot tell whether a newer version exists.");

    for (const auto& [value, starts] : {std::pair{"1", 0}, std::pair{"1 ", 1}}) {
        environment.set("KELTO_SYNC_RENDER_TESTS", value);
        auto again = makeUpdater({}, &feed);
        again->start();
        EXPECT_EQ(feed->starts, starts) << value;
        EXPECT_EQ(again->canCheckForUpdates(), starts == 1) << value;
    }
}

TEST_F(UpdaterTest, AutomaticWritesAreForwardedEachTimeAndStored) {
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater({}, &feed);
    EXPECT_FALSE(updater->automaticallyChecksForUpdates()) << "off by default";
    QSignalSpy changed(updater.get(), &Updater::automaticallyChecksForUpdatesChanged);
    updater->setAutomaticallyChecksForUpdates(true);
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(feed->automaticWrites, (std::vector<bool>{true, true}));
    EXPECT_EQ(changed.size(), 1);
    EXPECT_TRUE(makeUpdater()->automaticallyChecksForUpdates());
}

// Against version 1.4 (57): a higher version, or a higher build of the same
// one, is available; the rest is up to date; a feed that cannot be read,
// lacks its version or links to a file fails with a reason.
TEST_F(UpdaterTest, FileFeedsNewerEqualMalformedAndMissing) {
    using Kind = UpdateCheckResult::Kind;
    const std::pair<std::optional<QByteArray>, Kind> feeds[] = {
        {R"({"version": "1.5", "build": "60", "url": "https://example.org/k"})", Kind::available},
        {R"({"version": "1.4", "build": 58, "url": "https://example.org/k"})", Kind::available},
        {R"({"version": "1.4", "build": "57", "url": "https://example.org/k"})", Kind::upToDate},
        {R"({"version": "1.3.9", "build": "99", "url": "x"})", Kind::upToDate},
        {"{\"version\": ", Kind::failed},
        {R"({"build": "60", "url": "x"})", Kind::failed},
        {R"(["1.5"])", Kind::failed},
        {R"({"version": "1.5", "url": "file:///etc/passwd"})", Kind::failed},
        {std::nullopt, Kind::failed},
    };
    for (const auto& [json, kind] : feeds) {
        SCOPED_TRACE(json.value_or("(missing)").toStdString());
        presented.clear();
        const UpdateCheckResult result = userCheck(json);
        EXPECT_EQ(result.kind, kind);
        EXPECT_EQ(result.error.isEmpty(), kind != Kind::failed);
    }
    presented.clear();
    const UpdateWindow window(userCheck(feeds[0].first));
    EXPECT_EQ(window.message(), "Kelto Sync 1.5 (60) is available.");
    EXPECT_EQ(window.linkText(), "https://example.org/k");
}

TEST_F(UpdaterTest, AutomaticChecksRunDailyAndAreSilentUnlessAnUpdateExists) {
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater(feedURL(QByteArray("not json")), &feed);
    QSignalSpy checked(feed, &UpdateFeed::checked);
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(checked.size(), 0) << "nothing before start";
    updater->start();
    ASSERT_TRUE(checked.wait());
    EXPECT_FALSE(checked.at(0).at(1).toBool());
    EXPECT_TRUE(presented.empty()) << "an automatic check keeps its errors to itself";

    clock.advance(UpdateFeed::checkInterval - 60);
    feed->checkIfDue();
    EXPECT_TRUE(updater->canCheckForUpdates()) << "not yet due";

    feedURL(QByteArray(R"({"version": "2.0", "build": "1", "url": "https://example.org/k"})"));
    clock.advance(60);
    feed->checkIfDue();
    ASSERT_TRUE(checked.wait());
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].kind, UpdateCheckResult::Kind::available);

    updater->setAutomaticallyChecksForUpdates(false);
    clock.advance(UpdateFeed::checkInterval * 2);
    feed->checkIfDue();
    EXPECT_EQ(checked.size(), 2) << "off means no automatic check";
}

TEST_F(UpdaterTest, ACheckStampedAheadOfTheClockDoesNotHoldBackAutomaticChecks) {
    // The clock ran a month ahead at the last check and was corrected since.
    QSettings().setValue(QStringLiteral("updates.lastCheck"),
                         clock.now().sinceReference + 30 * UpdateFeed::checkInterval);
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater(feedURL(QByteArray("not json")), &feed);
    QSignalSpy checked(feed, &UpdateFeed::checked);
    updater->setAutomaticallyChecksForUpdates(true);
    updater->start();
    EXPECT_TRUE(checked.wait());
}

}  // namespace
}  // namespace kelto
