#include "FenraSettings/internal/ChoiceTileAccessible.h"

#include "FenraSettings/internal/ChoiceTile.h"

namespace kelto {

ChoiceTileAccessible::ChoiceTileAccessible(ChoiceTile* tile) : QAccessibleWidget(tile, QAccessible::Button) {}

QAccessibleInterface* ChoiceTileAccessible::create(const QString& className, QObject* object) {
    if (className == QLatin1String(ChoiceTile::staticMetaObject.className())) {
        if (auto* tile = qobject_cast<ChoiceTile*>(object)) {
            return new ChoiceTileAccessible(tile);
        }
    }
    return nullptr;
}

ChoiceTile* ChoiceTileAccessible::tile() const {
    return static_cast<ChoiceTile*>(widget());
}

QAccessible::State ChoiceTileAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.selected = tile()->isSelected();
    return state;
}

QStringList ChoiceTileAccessible::actionNames() const {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
}

void ChoiceTileAccessible::doAction(const QString& actionName) {
    if (actionName == pressAction()) {
        tile()->click();
    } else {
        QAccessibleWidget::doAction(actionName);
    }
}

}  // namespace kelto
