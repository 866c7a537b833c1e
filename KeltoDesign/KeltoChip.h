#pragma once

#include <QAbstractButton>

#include <functional>

namespace kelto {

// A small selectable capsule: its title as given, kelto-filled with a faint
// navy outline while selected, stroke-filled otherwise. A click calls the
// action; whether the chip is selected is the caller's to change.
class KeltoChip : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool selected READ isSelected WRITE setSelected)

public:
    KeltoChip(const QString& title, bool selected, std::function<void()> action, QWidget* parent = nullptr);

    bool isSelected() const { return selected_; }
    void setSelected(bool selected);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool selected_;
    std::function<void()> action_;
};

}  // namespace kelto
