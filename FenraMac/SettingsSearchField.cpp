#include "FenraMac/SettingsSearchField.h"

#include "FenraMac/FenraMacStrings.h"
#include "FenraMac/SettingsShellMetrics.h"

#include <QEvent>
#include <QKeyEvent>

namespace kelto {

SettingsSearchField::SettingsSearchField(Binding<QString>& query, QWidget* parent)
    : QLineEdit(parent), query_(&query) {
    setClearButtonEnabled(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    showQuery();
    refreshTexts();
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (query_ != nullptr) {
            query_->set(text);
        }
    });
    connect(&query, &BindingNotifier::changed, this, &SettingsSearchField::showQuery);
}

QSize SettingsSearchField::sizeHint() const {
    return QSize(212, SettingsShellMetrics::searchHeight);
}

bool SettingsSearchField::event(QEvent* event) {
    // Escape is the field's own, even where a shortcut of the window has it.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void SettingsSearchField::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (query_ != nullptr) {
        query_->set(QString());
    }
    clear();
    event->accept();
}

void SettingsSearchField::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refreshTexts();
    }
}

void SettingsSearchField::refreshTexts() {
    setPlaceholderText(FenraMacStrings::text(QStringLiteral("Search settings\u2026"), locale()));
    setAccessibleName(FenraMacStrings::text(QStringLiteral("Search settings"), locale()));
}

void SettingsSearchField::showQuery() {
    // Left alone when equal, so that the caret and the selection stay.
    if (query_ != nullptr && text() != query_->get()) {
        setText(query_->get());
    }
}

}  // namespace kelto
