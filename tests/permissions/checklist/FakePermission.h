#pragma once

#include "KeltoPermissions/CompanionPanel.h"
#include "KeltoPermissions/PermissionChecklist.h"
#include "Platform/Desktop/WorkspaceEvents.h"

#include <QPointer>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kelto::test {

// Calls that end when the test says: a probe answers a status, a request finishes.
template <class... Answer>
struct FakeCalls {
    std::deque<std::function<void(Answer...)>> waiting;
    int calls = 0;
    bool answer(Answer... values) {
        if (waiting.empty()) return false;
        auto next = std::move(waiting.front());
        waiting.pop_front();
        next(values...);
        return true;
    }
    void finish() { answer(); }
    auto start() {
        return [this](std::function<void(Answer...)> done) { ++calls, waiting.push_back(std::move(done)); };
    }
};
using FakeProbe = FakeCalls<PermissionStatus>;
using FakeRequest = FakeCalls<>;

inline PermissionItem fakeItem(const QString& id, PermissionRequirement requirement,
                               const std::shared_ptr<FakeProbe>& probe) {
    PermissionItem item;
    item.id = id;
    item.title = id + QStringLiteral(" title");
    item.detail = id + QStringLiteral(" detail");
    item.symbolName = QStringLiteral("hand.raised");
    item.requirement = requirement;
    item.check = [probe](std::function<void(PermissionStatus)> answer) { probe->start()(std::move(answer)); };
    return item;
}

inline void giveRequest(PermissionItem& item, const std::shared_ptr<FakeRequest>& request) {
    item.request = [request](std::function<void()> done) { request->start()(std::move(done)); };
}

// Defaults in a file of their own, an opener that answers as told, and a relauncher that only counts.
struct ChecklistRig {
    QTemporaryDir folder;
    QSettings defaults{folder.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat};
    bool opens = true;
    int openCalls = 0, terminations = 0;
    AppRelauncher relauncher{[this] { ++terminations; }, [] {}};
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeRequest> request = std::make_shared<FakeRequest>();

    // Unanswered probes hold the items, whose probes hold them: a cycle.
    ~ChecklistRig() { probe->waiting.clear(); }
    PermissionItem fake(const QString& id, PermissionRequirement requirement = PermissionRequirement::required) {
        return fakeItem(id, requirement, probe);
    }
    std::unique_ptr<PermissionChecklist> make(std::vector<PermissionItem> items) {
        return std::make_unique<PermissionChecklist>(
            QStringLiteral("Kelto Sync"), PermissionStrings(), std::move(items), defaults,
            [this](const SettingsDestination&) { return ++openCalls, opens; }, relauncher);
    }
    void answerAll(PermissionStatus status) {
        while (probe->answer(status)) {}
    }
};

// One item and its checklist.
struct ItemRig : ChecklistRig {
    PermissionItem item;
    std::unique_ptr<PermissionChecklist> checklist;

    ItemRig(const QString& id, std::optional<SettingsDestination> destination) : item(fake(id)) {
        item.destination = std::move(destination);
        checklist = make({item});
    }
    void answer(PermissionStatus status) {
        checklist->refreshAll();
        probe->answer(status);
    }
};

inline void refreshWith(PermissionChecklist& list, FakeProbe& probe, const std::vector<PermissionStatus>& answers) {
    list.refreshAll();
    for (const PermissionStatus status : answers) probe.answer(status);
}

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
    int presents = 0, dismisses = 0;
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
