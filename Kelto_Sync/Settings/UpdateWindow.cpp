#include "Kelto_Sync/Settings/UpdateWindow.h"

#include "FenraCore/WindowPlacement.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelto {

UpdateWindow::UpdateWindow(UpdateCheckResult result, SyncStrings strings, QWidget* parent)
    : QDialog(parent), result_(std::move(result)), message_(new QLabel(this)), link_(new QLabel(this)) {
    WindowPlacement::keepAsDialog(*this);
    WindowPlacement::follow(*this);
    const QLocale locale = this->locale();
    setWindowTitle(strings.text(QStringLiteral("Software Update"), locale));
    QString text;
    switch (result_.kind) {
    case UpdateCheckResult::Kind::noFeed:
        text = strings.text(QStringLiteral("No update feed is configured for this build, so Kelto Sync cannot tell "
                                           "whether a newer version exists."),
                            locale);
        break;
    case UpdateCheckResult::Kind::upToDate:
        text = strings.text(QStringLiteral("Kelto Sync is up to date."), locale);
        break;
    case UpdateCheckResult::Kind::available:
        text = strings.format(QStringLiteral("Kelto Sync %@ (%@) is available."), {result_.version, result_.build},
                              locale);
        break;
    case UpdateCheckResult::Kind::failed:
        text = strings.format(QStringLiteral("The check for updates failed: %@"), {result_.error}, locale);
        break;
    }
    // The version and the error come from the feed and the network.
    message_->setTextFormat(Qt::PlainText);
    message_->setText(text);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (result_.kind == UpdateCheckResult::Kind::available) {
        link_->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(result_.link.toHtmlEscaped(),
                                                                     result_.link.toHtmlEscaped()));
        link_->setTextFormat(Qt::RichText);
        link_->setOpenExternalLinks(true);
    }
    link_->setVisible(result_.kind == UpdateCheckResult::Kind::available);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(strings.text(QStringLiteral("OK"), locale), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(message_);
    layout->addWidget(link_);
    layout->addWidget(buttons);
    setMinimumWidth(380);
}

QString UpdateWindow::message() const {
    return message_->text();
}

QString UpdateWindow::linkText() const {
    return result_.kind == UpdateCheckResult::Kind::available ? result_.link : QString();
}

}  // namespace kelto
