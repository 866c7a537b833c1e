#pragma once

#include <QWidget>

#include "FenraCore/FenraIconStatus.h"
#include "KeltoPermissions/PermissionPresentation.h"
#include "KeltoPermissions/PermissionStatus.h"

class QLabel;

namespace kelto {

class IconLabel;

// A status as its tone's icon and a title shown as given. The icon is
// decoration; the title carries the meaning.
class PermissionStatusLabel : public QWidget {
    Q_OBJECT
public:
    PermissionStatusLabel(PermissionStatus status, const QString& title, PermissionPresentation presentation,
                          QWidget* parent = nullptr);

    void set(PermissionStatus status, const QString& title, PermissionPresentation presentation);
    FenraIconStatus tone() const { return tone(status_, presentation_); }
    QString title() const;

    // A switch that is merely off is information, a missing permission a
    // warning; no status is an error.
    static FenraIconStatus tone(PermissionStatus status, PermissionPresentation presentation);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refreshIcon();

    PermissionStatus status_;
    PermissionPresentation presentation_;
    IconLabel* icon_;
    QLabel* title_;
};

}  // namespace kelto
