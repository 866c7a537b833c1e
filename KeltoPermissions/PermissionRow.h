#pragma once

#include <QPointer>
#include <QWidget>

#include "KeltoPermissions/PermissionChecklist.h"

class QLabel;
class QPushButton;

namespace kelto {

class PermissionStatusLabel;

// One item of the checklist view: tile, title, detail and status, the call
// to action, "I've done this" and the secondary action, the error, and the
// restart hint. Everything it shows comes from the checklist; `refresh`
// reads it again.
class PermissionRow : public QWidget {
    Q_OBJECT
public:
    PermissionRow(PermissionChecklist& checklist, PermissionItem item, QWidget* parent = nullptr);

    const QString& itemID() const { return item_.id; }
    void refresh(bool prominent);

    // "Marked done" when confirmed by hand, else the status title.
    static QString statusText(const PermissionChecklist& checklist, const PermissionItem& item);
    static QString ctaTitle(const PermissionChecklist& checklist, const PermissionItem& item);

    QPushButton* ctaButton() const { return cta_; }
    QPushButton* confirmButton() const { return confirm_; }
    QPushButton* restartHintButton() const { return restartHint_; }
    PermissionStatusLabel* statusLabel() const { return status_; }
    QLabel* errorLabel() const { return error_; }
    bool isProminent() const { return prominent_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<PermissionChecklist> checklist_;
    PermissionItem item_;
    bool prominent_ = false;
    PermissionStatusLabel* status_;
    QPushButton* cta_;
    QWidget* actions_;
    QPushButton* confirm_;
    QPushButton* secondary_ = nullptr;
    QLabel* error_;
    QPushButton* restartHint_;
};

}  // namespace kelto
