#include "KeltoDesign/internal/SelectableAccessible.h"

#include "KeltoDesign/KeltoChip.h"
#include "KeltoDesign/internal/SegmentButton.h"

#include <QAbstractButton>

namespace kelto {

SelectableAccessible::SelectableAccessible(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

QAccessibleInterface* SelectableAccessible::create(const QString& className, QObject* object) {
    if (className == QLatin1String(KeltoChip::staticMetaObject.className()) ||
        className == QLatin1String(SegmentButton::staticMetaObject.className())) {
        if (auto* button = qobject_cast<QAbstractButton*>(object)) {
            return new SelectableAccessible(button);
        }
    }
    return nullptr;
}

QAccessible::State SelectableAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.selected = widget()->property("selected").toBool();
    return state;
}

QStringList SelectableAccessible::actionNames() const {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
}

void SelectableAccessible::doAction(const QString& actionName) {
    if (actionName == pressAction()) {
        static_cast<QAbstractButton*>(widget())->click();
    } else {
        QAccessibleWidget::doAction(actionName);
    }
}

}  // namespace kelto
