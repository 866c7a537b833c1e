#pragma once

#include "KeltoPermissions/CompanionPanel.h"
#include "Platform/Desktop/WorkspaceEvents.h"

#include <QPointer>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <vector>

namespace kelto::test {

// The desktop as the companion sees it, set by the test; sleeps wait until the test wakes them.
struct FakeDesktop {
    struct Sleeper {
        CompanionPanel::Duration delay;
        QPointer<QObject> context;
        std::function<void()> wake;
    };

    std::optional<QString> front;
    std::optional<SettingsWindowGeometry::Geometry> geometry;
    std::optional<QRectF> main = QRectF(0, 0, 1440, 875);
    std::vector<Sleeper> sleepers;
    int presents = 0;
    int dismisses = 0;
    std::unique_ptr<WorkspaceEvents> workspace = std::make_unique<WorkspaceEvents>();

    CompanionPanel::Dependencies dependencies() {
        CompanionPanel::Dependencies d;
        d.frontmostProgram = [this] { return front; };
        d.geometry = [this] { return geometry; };
        d.mainVisibleFrame = [this] { return main; };
        d.sleep = [this](CompanionPanel::Duration delay, QObject* context, std::function<void()> wake) {
            sleepers.push_back({delay, context, std::move(wake)});
        };
        d.present = [this](QWidget&) { ++presents; };
        d.dismiss = [this](QWidget&) { ++dismisses; };
        d.workspace = workspace.get();
        return d;
    }

    // Wakes the oldest sleeper of that delay; false when there is none.
    bool wake(CompanionPanel::Duration delay) {
        auto found = std::find_if(sleepers.begin(), sleepers.end(), [&](const Sleeper& s) { return s.delay == delay; });
        if (found == sleepers.end()) return false;
        Sleeper sleeper = std::move(*found);
        sleepers.erase(found);
        if (sleeper.context) sleeper.wake();
        return true;
    }

    void settingsInFront(QRectF frame = QRectF(200, 100, 600, 500)) {
        front = QStringLiteral("gnome-control-center");
        geometry = SettingsWindowGeometry::Geometry{frame, QRectF(0, 0, 1440, 875)};
    }
};

// Collects the log lines of one category, the companion's unless told, for one test.
class CompanionLog {
public:
    explicit CompanionLog(const char* category = "KeltoPermissions.companion") : category_(category) {
        current() = this;
        previous_ = qInstallMessageHandler(&CompanionLog::handle);
    }
    ~CompanionLog() {
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }
    int count(const QString& prefix) const {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(prefix); }));
    }
    QStringList lines;

private:
    static CompanionLog*& current() {
        static CompanionLog* log = nullptr;
        return log;
    }
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message) {
        if (current() && context.category && QLatin1String(context.category) == QLatin1String(current()->category_)) {
            current()->lines.push_back(message);
        }
    }
    const char* category_;
    QtMessageHandler previous_ = nullptr;
};

}  // namespace kelto::test
