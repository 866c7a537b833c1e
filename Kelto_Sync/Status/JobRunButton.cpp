#include "Kelto_Sync/Status/JobRunButton.h"

#include "FenraCore/FenraIcon.h"
#include "FenraCore/SymbolImage.h"

#include <QEvent>

namespace kelto {

JobRunButton::JobRunButton(QString jobName, std::optional<RunStatus> status, bool enabled, SyncStrings strings,
                           std::function<void()> sync, std::function<void()> stop, QWidget* parent)
    : QToolButton(parent),
      jobName_(std::move(jobName)),
      status_(std::move(status)),
      enabled_(enabled),
      strings_(strings),
      sync_(std::move(sync)),
      stop_(std::move(stop)) {
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setFixedSize(24, 24);
    setIconSize(QSize(16, 16));
    connect(this, &QToolButton::clicked, this, [this] {
        const auto& action = status_ ? stop_ : sync_;
        if (action) action();
    });
    refresh();
}

void JobRunButton::setValues(QString jobName, std::optional<RunStatus> status, bool enabled) {
    jobName_ = std::move(jobName);
    status_ = std::move(status);
    enabled_ = enabled;
    refresh();
}

QString JobRunButton::title(const std::optional<RunStatus>& status, const SyncStrings& strings, const QLocale& locale) {
    return strings.text(status ? QStringLiteral("Stop") : QStringLiteral("Sync now"), locale);
}

void JobRunButton::refresh() {
    const QLocale where = locale();
    const QString name = title();
    setText(name);
    setIcon(SymbolImage::icon(status_ ? FenraIcon::stopped : FenraIcon::sync,
                              palette().color(QPalette::Active, QPalette::ButtonText)));
    setToolTip(!status_ && !enabled_
                   ? strings_.text(QStringLiteral("Automatic runs are paused. You can still sync manually."), where)
                   : name);
    setAccessibleName(name + strings_.text(QStringLiteral(", "), where) + jobName_);
}

void JobRunButton::changeEvent(QEvent* event) {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) refresh();
}

}  // namespace kelto
