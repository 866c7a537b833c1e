#pragma once

#include "KeltoPermissions/PermissionChecklist.h"

#include <QSettings>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>

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

// Defaults in a file of their own, a probe and a request the test answers, an opener that answers as told, and a
// relauncher that only counts.
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
};

// Runs one full refresh, answering the probe's calls in turn.
inline void refreshWith(PermissionChecklist& list, FakeProbe& probe, const std::vector<PermissionStatus>& answers) {
    list.refreshAll();
    for (const PermissionStatus status : answers) probe.answer(status);
}

}  // namespace kelto::test
