#pragma once

#include <QAccessibleWidget>

namespace kelto {

class KeltoSlider;

// The slider as one adjustable element named "Quality", its value read as
// a percentage; increment and decrement move a step as the arrow keys do.
class SliderAccessible : public QAccessibleWidget {
public:
    explicit SliderAccessible(KeltoSlider* slider);

    static QAccessibleInterface* create(const QString& className, QObject* object);

    QString text(QAccessible::Text kind) const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    KeltoSlider* slider() const;
};

}  // namespace kelto
