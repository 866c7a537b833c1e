#pragma once

#include <QLineEdit>

#include <cstdint>
#include <functional>

namespace kelto {

// A whole-number field over the full 64-bit range, in the widget's locale
// (QSpinBox is 32-bit and clamps). Each keystroke that leaves a number
// commits it; text that does not parse commits nothing and gives way to the
// last value when the field loses focus. While the user types, the field is
// rewritten only when its owner sets a different value.
class IntegerField : public QLineEdit {
public:
    explicit IntegerField(std::function<void(std::int64_t)> commit, QWidget* parent = nullptr);

    void setValue(std::int64_t value);
    std::int64_t value() const { return value_; }

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void showValue();

    std::function<void(std::int64_t)> commit_;
    std::int64_t value_ = 0;
};

}  // namespace kelto
