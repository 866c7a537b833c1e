#include "FenraCore/AccessibleElement.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace kelto {
namespace {

constexpr const char* marker = "fenraAccessibleElement";

class ElementAccessible : public QAccessibleWidget {
public:
    explicit ElementAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::StaticText) {}

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};

QAccessibleInterface* create(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && AccessibleElement::isElement(*widget)) return new ElementAccessible(widget);
    return nullptr;
}

}  // namespace

void AccessibleElement::adopt(QWidget& widget) {
    static const bool installed = (QAccessible::installFactory(&create), true);
    Q_UNUSED(installed);
    widget.setProperty(marker, true);
}

bool AccessibleElement::isElement(const QWidget& widget) { return widget.property(marker).toBool(); }

}  // namespace kelto
