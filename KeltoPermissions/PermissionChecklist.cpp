#include "KeltoPermissions/PermissionChecklist.h"

#include <QTimer>

#include <algorithm>

namespace kelto {

struct PermissionChecklist::Monitor {
    QTimer* timer = nullptr;
    std::stop_source stop;
};

PermissionChecklist::PermissionChecklist(QString appName, PermissionStrings strings, std::vector<PermissionItem> items,
                                         QSettings& defaults, OpenSettings openSettings, AppRelauncher& relauncher,
                                         QObject* parent)
    : QObject(parent),
      appName_(std::move(appName)),
      strings_(std::move(strings)),
      items_(std::move(items)),
      defaults_(defaults),
      openSettings_(std::move(openSettings)),
      relauncher_(relauncher) {
    loadConfirmations();
    const QVariant focus = defaults_.value(focusKey());
    if (focus.isValid()) focusedItemID_ = focus.toString();
    published_ = {revision_, statuses_, errors_, confirmations_, returnedWithoutSuccess_, focusedItemID_};
}

PermissionChecklist::~PermissionChecklist() { stopMonitoring(); }

const PermissionItem* PermissionChecklist::item(const QString& id) const {
    const auto found = std::find_if(items_.begin(), items_.end(), [&](const PermissionItem& i) { return i.id == id; });
    return found == items_.end() ? nullptr : &*found;
}

void PermissionChecklist::publish() {
    Observed now{revision_, statuses_, errors_, confirmations_, returnedWithoutSuccess_, focusedItemID_};
    if (now == published_) return;
    published_ = std::move(now);
    emit changed();
}

void PermissionChecklist::loadConfirmations() {
    confirmations_.clear();
    for (const PermissionItem& i : items_) {
        if (defaults_.value(confirmedKey(i.id), false).toBool()) confirmations_.insert(i.id);
    }
}

void PermissionChecklist::setItems(std::vector<PermissionItem> items) {
    items_ = std::move(items);
    ++revision_;
    const auto gone = [this](const QString& id) { return item(id) == nullptr; };
    std::erase_if(statuses_, [&](const auto& entry) { return gone(entry.first); });
    std::erase_if(returnedWithoutSuccess_, gone);
    std::erase_if(pendingSettings_, gone);
    loadConfirmations();
    publish();
}

PermissionStatus PermissionChecklist::status(const QString& id) const {
    const auto found = statuses_.find(id);
    return found == statuses_.end() ? PermissionStatus::checking : found->second;
}

std::optional<QString> PermissionChecklist::error(const QString& id) const {
    const auto found = errors_.find(id);
    if (found == errors_.end()) return std::nullopt;
    return found->second;
}

PermissionCTA PermissionChecklist::cta(const QString& id) const {
    const PermissionItem* i = item(id);
    const auto stored = statuses_.find(id);
    if (i == nullptr || stored == statuses_.end()) return PermissionCTA::none;
    const auto settingsOrNone = i->destination ? PermissionCTA::openSettings : PermissionCTA::none;
    switch (stored->second) {
    case PermissionStatus::checking:
    case PermissionStatus::granted:
        return PermissionCTA::none;
    case PermissionStatus::missing:
        if (i->request && (i->repeatsRequest || !requested_.contains(id))) return PermissionCTA::request;
        // A used-up request with nowhere to send the user leaves nothing to
        // press: a button here would do nothing.
        return settingsOrNone;
    case PermissionStatus::denied:
    case PermissionStatus::needsApproval:
    case PermissionStatus::unverifiable:
        return settingsOrNone;
    case PermissionStatus::restartRequired:
        return PermissionCTA::restart;
    }
    return PermissionCTA::none;
}

void PermissionChecklist::copyError(const PermissionItem& i) {
    if (i.requestState && i.requestState->error) {
        errors_[i.id] = *i.requestState->error;
    } else if (openFailed_.contains(i.id)) {
        // Until the settings open, the row says they did not.
        errors_[i.id] = strings_.string(QStringLiteral("The settings could not be opened."));
    } else {
        errors_.erase(i.id);
    }
}

void PermissionChecklist::setFocus(const QString& id) {
    focusedItemID_ = id;
    defaults_.setValue(focusKey(), id);
}

void PermissionChecklist::focus(const QString& id) {
    setFocus(id);
    publish();
}

void PermissionChecklist::clearFocus() {
    focusedItemID_.reset();
    defaults_.remove(focusKey());
    publish();
}

void PermissionChecklist::announceHandOff(const PermissionItem& i) {
    pendingSettings_.insert(i.id);
    setFocus(i.id);
    publish();
    if (onOpenSettings) onOpenSettings(i);
}

void PermissionChecklist::perform(const QString& id, Done done) {
    const PermissionItem* found = item(id);
    if (found == nullptr || !performing_.insert(id).second) {
        if (done) done();
        return;
    }
    const PermissionItem i = *found;
    const auto finish = [self = QPointer(this), id, done] {
        if (self) self->performing_.erase(id);
        if (done) done();
    };
    switch (cta(id)) {
    case PermissionCTA::none:
        break;
    case PermissionCTA::openSettings:
        openSettings(i);
        break;
    case PermissionCTA::restart:
        requestRestart(id);
        break;
    case PermissionCTA::request:
        if (!i.request) break;
        if (!i.repeatsRequest && !requested_.insert(id).second) break;
        if (i.handsOffToSettings && !i.destination) announceHandOff(i);
        i.request([self = QPointer(this), i, finish] {
            if (!self) return finish();
            self->copyError(i);
            self->publish();
            if (i.opensSettingsAfterRequest) self->openSettings(i);
            self->refreshAll(finish);
        });
        return;
    }
    finish();
}

void PermissionChecklist::openSettings(const PermissionItem& i) {
    if (!i.destination) return;
    announceHandOff(i);
    const bool opened = openSettings_ && openSettings_(*i.destination);
    if (opened) {
        openFailed_.erase(i.id);
    } else {
        openFailed_.insert(i.id);
    }
    copyError(i);
    if (!opened) pendingSettings_.erase(i.id);
    publish();
    if (!opened && onSettingsOpenFailed) onSettingsOpenFailed();
}

void PermissionChecklist::requestRestart(const QString& id) {
    setFocus(id);
    publish();
    relauncher_.requestRelaunch();
}

void PermissionChecklist::refreshAll(Done done, std::stop_token stop) {
    if (refreshing_) {
        if (done) done();
        return;
    }
    refreshing_ = true;
    if (done) afterRefresh_.push_back(std::move(done));
    probe(0, revision_, items_, std::move(stop));
}

void PermissionChecklist::probe(std::size_t index, quint64 revision, std::vector<PermissionItem> items,
                                std::stop_token stop) {
    if (index >= items.size()) return finishRefresh();
    const PermissionItem& i = items[index];
    if (!i.check) return probe(index + 1, revision, std::move(items), std::move(stop));
    const auto check = i.check;
    check([self = QPointer(this), index, revision, items = std::move(items), stop](PermissionStatus answer) mutable {
        if (!self) return;
        if (self->revision_ != revision || stop.stop_requested()) return self->finishRefresh();
        const PermissionItem& i = items[index];
        self->statuses_[i.id] = answer;
        self->copyError(i);
        if (answer == PermissionStatus::granted) self->returnedWithoutSuccess_.erase(i.id);
        self->publish();
        self->probe(index + 1, revision, std::move(items), std::move(stop));
    });
}

void PermissionChecklist::finishRefresh() {
    refreshing_ = false;
    auto waiting = std::exchange(afterRefresh_, {});
    for (Done& done : waiting) done();
}

void PermissionChecklist::refreshAfterReturn(Done done) {
    std::set<QString> taken = std::exchange(pendingSettings_, {});
    auto own = [self = QPointer(this), taken = std::move(taken), done = std::move(done)]() mutable {
        if (!self) {
            if (done) done();
            return;
        }
        self->refreshAll([self, taken = std::move(taken), done = std::move(done)] {
            if (self) {
                for (const QString& id : taken) {
                    if (self->status(id) != PermissionStatus::granted) self->returnedWithoutSuccess_.insert(id);
                }
                self->publish();
            }
            if (done) done();
        });
    };
    if (refreshing_) {
        afterRefresh_.push_back(std::move(own));
    } else {
        own();
    }
}

void PermissionChecklist::confirmManually(const QString& id) {
    const PermissionItem* i = item(id);
    if (status(id) != PermissionStatus::unverifiable || confirmations_.contains(id) || i == nullptr ||
        !i->allowsManualConfirm) {
        return;
    }
    defaults_.setValue(confirmedKey(id), true);
    confirmations_.insert(id);
    const auto onConfirm = i->onManualConfirm;
    publish();
    if (onConfirm) onConfirm();
}

bool PermissionChecklist::isManuallyConfirmed(const QString& id) const {
    const PermissionItem* i = item(id);
    return status(id) == PermissionStatus::unverifiable && confirmations_.contains(id) && i != nullptr &&
           i->allowsManualConfirm;
}

void PermissionChecklist::startMonitoring(std::chrono::milliseconds interval) {
    if (monitor_) return;
    monitor_ = std::make_unique<Monitor>();
    monitor_->timer = new QTimer(this);
    monitor_->timer->setObjectName(QStringLiteral("permissions.monitor"));
    monitor_->timer->setSingleShot(true);
    monitor_->timer->setInterval(interval);
    connect(monitor_->timer, &QTimer::timeout, this, &PermissionChecklist::monitorTick);
    monitorTick();
}

void PermissionChecklist::monitorTick() {
    if (!monitor_) return;
    const std::stop_token stop = monitor_->stop.get_token();
    refreshAll(
        [self = QPointer(this), stop] {
            if (self && !stop.stop_requested() && self->monitor_) self->monitor_->timer->start();
        },
        stop);
}

void PermissionChecklist::stopMonitoring() {
    if (!monitor_) return;
    monitor_->stop.request_stop();
    delete monitor_->timer;
    monitor_.reset();
}

bool PermissionChecklist::canFinish() const {
    return std::all_of(items_.begin(), items_.end(), [this](const PermissionItem& i) {
        return i.requirement != PermissionRequirement::required || status(i.id) == PermissionStatus::granted;
    });
}

std::pair<qint64, qint64> PermissionChecklist::readiness() const {
    qint64 ready = 0;
    qint64 total = 0;
    for (const PermissionItem& i : items_) {
        if (i.requirement == PermissionRequirement::optional) continue;
        ++total;
        if (status(i.id) == PermissionStatus::granted || isManuallyConfirmed(i.id)) ++ready;
    }
    return {ready, total};
}

}  // namespace kelto
