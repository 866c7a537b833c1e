#include "Kelto_Sync/Settings/Updater.h"

#include "Kelto_Sync/Settings/UpdateFeed.h"

namespace kelto {

bool Updater::StartPolicy::shouldStart(const QProcessEnvironment& environment) {
    return environment.value(QStringLiteral("KELTO_SYNC_RENDER_TESTS"), QString()) != QStringLiteral("1");
}

Updater::Updater(std::unique_ptr<UpdateFeed> feed, QObject* parent) : QObject(parent), feed_(std::move(feed)) {
    automaticallyChecksForUpdates_ = feed_->automaticallyChecksForUpdates();
    connect(feed_.get(), &UpdateFeed::canCheckForUpdatesChanged, this, &Updater::setCanCheck);
    setCanCheck(feed_->canCheckForUpdates());
}

Updater::~Updater() {
    feed_->disconnect(this);
}

void Updater::start() {
    if (startPolicy_.started || !StartPolicy::shouldStart(QProcessEnvironment::systemEnvironment())) return;
    startPolicy_.started = true;
    feed_->startUpdater();
}

void Updater::setAutomaticallyChecksForUpdates(bool on) {
    const bool changed = automaticallyChecksForUpdates_ != on;
    automaticallyChecksForUpdates_ = on;
    if (changed) emit automaticallyChecksForUpdatesChanged(on);
    feed_->setAutomaticallyChecksForUpdates(on);
}

void Updater::setCanCheck(bool can) {
    if (canCheckForUpdates_ == can) return;
    canCheckForUpdates_ = can;
    emit canCheckForUpdatesChanged(can);
}

}  // namespace kelto
