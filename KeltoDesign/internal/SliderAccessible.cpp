#include "KeltoDesign/internal/SliderAccessible.h"

#include "KeltoDesign/KeltoDesignStrings.h"
#include "KeltoDesign/KeltoSlider.h"

namespace kelto {

SliderAccessible::SliderAccessible(KeltoSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

QAccessibleInterface* SliderAccessible::create(const QString& className, QObject* object) {
    if (className == QLatin1String(KeltoSlider::staticMetaObject.className())) {
        if (auto* slider = qobject_cast<KeltoSlider*>(object)) {
            return new SliderAccessible(slider);
        }
    }
    return nullptr;
}

KeltoSlider* SliderAccessible::slider() const {
    return static_cast<KeltoSlider*>(widget());
}

QString SliderAccessible::text(QAccessible::Text kind) const {
    switch (kind) {
    case QAccessible::Name: return KeltoDesignStrings::text(QStringLiteral("Quality"), slider()->locale());
    case QAccessible::Value: return slider()->accessibleValue();
    default: return QAccessibleWidget::text(kind);
    }
}

QStringList SliderAccessible::actionNames() const {
    return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
}

void SliderAccessible::doAction(const QString& actionName) {
    if (actionName == increaseAction()) {
        slider()->stepBy(1);
    } else if (actionName == decreaseAction()) {
        slider()->stepBy(-1);
    } else {
        QAccessibleWidget::doAction(actionName);
    }
}

}  // namespace kelto
