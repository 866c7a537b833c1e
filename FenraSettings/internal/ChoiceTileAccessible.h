#pragma once

#include <QAccessibleWidget>

namespace kelto {

class ChoiceTile;

// A choice tile to assistive technology: a button named by its title,
// selected while its option is chosen, with nothing inside it to read.
class ChoiceTileAccessible : public QAccessibleWidget {
public:
    explicit ChoiceTileAccessible(ChoiceTile* tile);

    // For QAccessible::installFactory.
    static QAccessibleInterface* create(const QString& className, QObject* object);

    QAccessible::State state() const override;
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    ChoiceTile* tile() const;
};

}  // namespace kelto
