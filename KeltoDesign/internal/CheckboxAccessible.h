#pragma once

#include <QAccessibleWidget>

namespace kelto {

class KeltoCheckbox;

// A check box that reads its state as words: "On" or "Off" as its value,
// its label as its name; it toggles on request.
class CheckboxAccessible : public QAccessibleWidget {
public:
    explicit CheckboxAccessible(KeltoCheckbox* checkbox);

    static QAccessibleInterface* create(const QString& className, QObject* object);

    QString text(QAccessible::Text kind) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    KeltoCheckbox* checkbox() const;
};

}  // namespace kelto
