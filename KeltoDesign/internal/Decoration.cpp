#include "KeltoDesign/internal/Decoration.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace kelto {
namespace {

constexpr const char* marker = "keltoDecoration";

class DecorationAccessible : public QAccessibleWidget {
public:
    explicit DecorationAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Graphic) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        state.focusable = false;
        return state;
    }
};

QAccessibleInterface* create(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && Decoration::isDecoration(*widget)) {
        return new DecorationAccessible(widget);
    }
    return nullptr;
}

}  // namespace

void Decoration::adopt(QWidget& widget) {
    static const bool installed = (QAccessible::installFactory(&create), true);
    Q_UNUSED(installed);
    widget.setProperty(marker, true);
    widget.setAttribute(Qt::WA_TransparentForMouseEvents);
    widget.setFocusPolicy(Qt::NoFocus);
}

bool Decoration::isDecoration(const QWidget& widget) {
    return widget.property(marker).toBool();
}

}  // namespace kelto
