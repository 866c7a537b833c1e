#include "Kelto_Sync/RevealFailureAlert.h"

#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/SyncStrings.h"

#include <QLabel>
#include <QWidget>

namespace kelto {

AlertBox* RevealFailureAlert::present(QWidget& from, const SyncStrings& strings, const QString& failure,
                                      const QStringList& paths) {
    const QString path = paths.join(QLatin1Char('\n'));
    const QLocale where = from.locale();
    auto* alert = new AlertBox(from.window());
    alert->setObjectName(QStringLiteral("revealFailedAlert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setTitle(failure);
    alert->setMessage(path);
    for (QLabel* label : alert->findChildren<QLabel*>()) {
        if (label->text() == path) {
            label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        }
    }
    alert->addButton(strings.text(QStringLiteral("OK"), where), QMessageBox::AcceptRole);
    alert->present();
    return alert;
}

}  // namespace kelto
