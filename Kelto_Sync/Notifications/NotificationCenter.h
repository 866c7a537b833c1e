#pragma once

#include "Kelto_Sync/Notifications/NotificationRequest.h"

#include <QString>

#include <exception>
#include <functional>

namespace kelto {

// Where notifications go and where the user's answers come from. Qt and the
// standard library only, so that platform layers can implement it.
class NotificationCenter {
public:
    // The action's identifier ("default" for a click on the notification
    // itself) and the request's "jobID" user info as it was posted.
    using ResponseHandler = std::function<void(const QString& action, const QString& jobID)>;
    // Granted, or the error the platform reported (then `granted` is false).
    using AuthorizationAnswer = std::function<void(bool granted, std::exception_ptr error)>;

    virtual ~NotificationCenter() = default;

    // Shows the request at once; a refused or undeliverable one is dropped
    // without a word.
    virtual void add(const NotificationRequest& request) = 0;
    // Withdraws the notification posted with this identifier, shown or still
    // on its way; nothing when there is none.
    virtual void remove(const QString& identifier) = 0;
    // Answers on the GUI thread, never from inside the call.
    virtual void requestAuthorization(AuthorizationAnswer answer) = 0;
    // Called on the GUI thread for each answer to a posted notification.
    virtual void setResponseHandler(ResponseHandler handler) = 0;
};

}  // namespace kelto
