#pragma once

#include "Kelto_Sync/Settings/UpdateCheckResult.h"
#include "Kelto_Sync/SyncStrings.h"

#include <QDialog>

class QLabel;

namespace kelto {

// Tells the user what an update check found; an available update comes
// with its link, which opens in the browser.
class UpdateWindow : public QDialog {
    Q_OBJECT

public:
    explicit UpdateWindow(UpdateCheckResult result, SyncStrings strings = SyncStrings::application(),
                          QWidget* parent = nullptr);

    QString message() const;
    // The link line, or empty.
    QString linkText() const;

private:
    UpdateCheckResult result_;
    QLabel* message_;
    QLabel* link_;
};

}  // namespace kelto
