#pragma once

#include <QAccessibleWidget>

class QAbstractButton;

namespace kelto {

// A button that shows whether it is selected: assistive technology reads its
// title and its `selected` property, and can press it.
class SelectableAccessible : public QAccessibleWidget {
public:
    explicit SelectableAccessible(QAbstractButton* button);

    // Answers for the package's segments and chips; install once.
    static QAccessibleInterface* create(const QString& className, QObject* object);

    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
};

}  // namespace kelto
