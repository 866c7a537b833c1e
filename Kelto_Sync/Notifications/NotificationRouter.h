#pragma once

#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Notifications/NotificationCenter.h"
#include "SyncModel/Support/Uuid.h"

#include <QPointer>
#include <QString>

namespace kelto {

// Turns the user's answers to notifications into model requests and the
// "KeltoSync.openJob" notice. It holds the model weakly: without one the
// buttons do nothing, while a click still asks to show the job.
class NotificationRouter {
public:
    // The process's router, made on first use and kept until exit.
    static NotificationRouter& shared();

    NotificationRouter() = default;
    NotificationRouter(const NotificationRouter&) = delete;
    NotificationRouter& operator=(const NotificationRouter&) = delete;

    AppModelAdapter* model() const { return model_; }
    void setModel(AppModelAdapter* model) { model_ = model; }

    // Makes this router the receiver of the centre's answers; the centre
    // must not outlive it (the shared router never goes).
    void listen(NotificationCenter& center);
    // An answer as delivered: a "jobID" that is not a UUID text is ignored.
    void respond(const QString& action, const QString& jobID);
    // "SYNC_NOW" runs the job, "SKIP" drops its parked run, anything else
    // asks to show it.
    void handle(const QString& action, const Uuid& jobID);

private:
    QPointer<AppModelAdapter> model_;
};

}  // namespace kelto
