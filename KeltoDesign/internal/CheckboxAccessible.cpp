#include "KeltoDesign/internal/CheckboxAccessible.h"

#include "KeltoDesign/KeltoCheckbox.h"

namespace kelto {

CheckboxAccessible::CheckboxAccessible(KeltoCheckbox* checkbox) : QAccessibleWidget(checkbox, QAccessible::CheckBox) {}

QAccessibleInterface* CheckboxAccessible::create(const QString& className, QObject* object) {
    if (className == QLatin1String(KeltoCheckbox::staticMetaObject.className())) {
        if (auto* checkbox = qobject_cast<KeltoCheckbox*>(object)) {
            return new CheckboxAccessible(checkbox);
        }
    }
    return nullptr;
}

KeltoCheckbox* CheckboxAccessible::checkbox() const {
    return static_cast<KeltoCheckbox*>(widget());
}

QString CheckboxAccessible::text(QAccessible::Text kind) const {
    switch (kind) {
    case QAccessible::Value: return checkbox()->stateText();
    case QAccessible::Name: {
        const QString name = QAccessibleWidget::text(kind);
        return name.isEmpty() ? checkbox()->text() : name;
    }
    default: return QAccessibleWidget::text(kind);
    }
}

QAccessible::State CheckboxAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.checkable = true;
    state.checked = checkbox()->isChecked();
    return state;
}

QStringList CheckboxAccessible::actionNames() const {
    return QStringList{toggleAction()} + QAccessibleWidget::actionNames();
}

void CheckboxAccessible::doAction(const QString& actionName) {
    if (actionName == toggleAction()) {
        checkbox()->click();
    } else {
        QAccessibleWidget::doAction(actionName);
    }
}

}  // namespace kelto
