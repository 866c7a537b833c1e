#pragma once

#include "Kelto_Sync/Settings/UpdateFeed.h"
#include "Kelto_Sync/Settings/Updater.h"
#include "SyncModel/Support/Clock.h"
#include "tests/permissions/ScopedEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace kelto::test {

// A feed that records what the updater asks of it.
class RecordingFeed : public UpdateFeed {
public:
    using UpdateFeed::UpdateFeed;
    void setAutomaticallyChecksForUpdates(bool on) override {
        automaticWrites.push_back(on);
        UpdateFeed::setAutomaticallyChecksForUpdates(on);
    }
    void startUpdater() override {
        ++starts;
        UpdateFeed::startUpdater();
    }
    std::vector<bool> automaticWrites;
    int starts = 0;
};

// Settings, autostart entries and user folders in a temporary home.
class SettingsFixture : public testing::Test {
protected:
    SettingsFixture() {
        QCoreApplication::setOrganizationName(QStringLiteral("KeltoSettingsTests"));
        QCoreApplication::setApplicationName(QStringLiteral("Kelto Sync"));
        environment.set("HOME", home.path().toUtf8());
        environment.set("XDG_CONFIG_HOME", config().toUtf8());
        environment.unset("KELTO_SYNC_RENDER_TESTS");
        QDir().mkpath(config());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config());
        QSettings().clear();
    }

    QString config() const { return home.path() + QStringLiteral("/config"); }

    std::unique_ptr<Updater> makeUpdater(const QString& feedURL = {}, RecordingFeed** feed = nullptr) {
        auto made = std::make_unique<RecordingFeed>(feedURL, QStringLiteral("1.4"), QStringLiteral("57"), clock);
        made->setPresent([this](const UpdateCheckResult& result) { presented.push_back(result); });
        if (feed != nullptr) *feed = made.get();
        return std::make_unique<Updater>(std::move(made));
    }

    QTemporaryDir home;
    ScopedEnvironment environment;
    ManualClock clock{Date{700'000'000}};
    std::vector<UpdateCheckResult> presented;
};

}  // namespace kelto::test
