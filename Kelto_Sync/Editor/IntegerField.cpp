#include "Kelto_Sync/Editor/IntegerField.h"

#include "Kelto_Sync/Editor/EditorLocale.h"

#include <QEvent>

namespace kelto {

IntegerField::IntegerField(std::function<void(std::int64_t)> commit, QWidget* parent)
    : QLineEdit(parent), commit_(std::move(commit)) {
    showValue();
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (const auto parsed = EditorLocale::parseInteger(text, locale())) {
            value_ = *parsed;
            if (commit_) {
                commit_(*parsed);
            }
        }
    });
    connect(this, &QLineEdit::editingFinished, this, [this] { showValue(); });
}

void IntegerField::setValue(std::int64_t value) {
    if (hasFocus() && value == value_) {
        return;  // the user's own text stands
    }
    value_ = value;
    showValue();
}

void IntegerField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    showValue();
}

void IntegerField::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::LocaleChange && !hasFocus()) {
        showValue();
    }
}

void IntegerField::showValue() {
    const QString text = EditorLocale::integer(value_, locale());
    if (QLineEdit::text() != text) {
        setText(text);
    }
}

}  // namespace kelto
