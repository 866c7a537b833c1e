#include "Kelto_Sync/Notifications/NotificationRouter.h"

#include "Kelto_Sync/AppEvents.h"
#include "Kelto_Sync/Notifications/Notifier.h"

namespace kelto {

NotificationRouter& NotificationRouter::shared() {
    static NotificationRouter* router = new NotificationRouter;  // lives until the process ends
    return *router;
}

void NotificationRouter::listen(NotificationCenter& center) {
    center.setResponseHandler([this](const QString& action, const QString& jobID) { respond(action, jobID); });
}

void NotificationRouter::respond(const QString& action, const QString& jobID) {
    const auto id = Uuid::parse(jobID.toStdString());
    if (!id) return;
    handle(action, *id);
}

void NotificationRouter::handle(const QString& action, const Uuid& jobID) {
    if (action == Notifier::syncNowAction) {
        if (model_) model_->runNow(jobID);
    } else if (action == Notifier::skipAction) {
        if (model_) model_->decline(jobID);
    } else {
        AppEvents::shared().postOpenJob(QString::fromStdString(jobID.string()));
    }
}

}  // namespace kelto
