#pragma once

#include <QString>

#include <vector>

namespace kelto {

// One notification as the application hands it to the notification centre.
// A request with the identifier of an earlier one takes that one's place.
struct NotificationRequest {
    struct Action {
        QString identifier;
        QString title;

        friend bool operator==(const Action&, const Action&) = default;
    };

    QString identifier;
    QString title;
    QString body;
    QString category;  // empty for none
    QString jobID;     // the "jobID" user info: a job's UUID text
    // Buttons besides the click on the notification itself.
    std::vector<Action> actions;

    friend bool operator==(const NotificationRequest&, const NotificationRequest&) = default;
};

}  // namespace kelto
