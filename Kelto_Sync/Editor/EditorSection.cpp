#include "Kelto_Sync/Editor/EditorSection.h"

#include <QEvent>

namespace kelto {

EditorSection::EditorSection(SyncStrings strings, Report report, QWidget* parent)
    : QWidget(parent), strings_(strings), report_(std::move(report)) {}

void EditorSection::setJob(const SyncJob& job) {
    job_ = job;
    refresh();
}

void EditorSection::report(const SyncJob& job) const {
    if (report_) {
        report_(job);
    }
}

QString EditorSection::text(const char* english) const {
    return strings_.text(QString::fromUtf8(english), locale());
}

QString EditorSection::format(const char* english, const QVariantList& values) const {
    return strings_.format(QString::fromUtf8(english), values, locale());
}

void EditorSection::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refresh();
    }
}

}  // namespace kelto
