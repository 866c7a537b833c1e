#include "KeltoPermissions/CompanionContent.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/TextFormat.h"
#include "KeltoDesign/KeltoAppIcon.h"
#include "KeltoPermissions/AppDragTile.h"
#include "KeltoPermissions/PermissionStatusLabel.h"
#include "KeltoPermissions/internal/ToneLabel.h"
#include "Platform/Desktop/FileRevealer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelto {

namespace {

QLabel* textLabel(const QString& text, FontRole role, QWidget* parent) {
    return new ToneLabel(text, role, nullptr, parent);
}

}  // namespace

CompanionContent::CompanionContent(PermissionChecklist& checklist, PermissionItem item, QString bundlePath,
                                   AppInstallLocation installLocation, std::function<void()> onBack, QWidget* parent)
    : QWidget(parent),
      checklist_(&checklist),
      item_(std::move(item)),
      bundlePath_(std::move(bundlePath)),
      installLocation_(installLocation),
      onBack_(std::move(onBack)),
      reveal_([](const QString& path, std::function<void(bool)> shown) { FileRevealer::reveal(path, std::move(shown)); }) {
    setFixedWidth(300);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    content_ = new QWidget;
    outer->addWidget(new FenraSurfaceFrame(FenraSurface::panel, InsettableShape::roundedRectangle(16), false, content_));
    auto* column = new QVBoxLayout(content_);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    auto* icon = new KeltoAppIcon(content_);
    icon->setFixedSize(40, 40);
    header->addWidget(icon);
    header->addWidget(textLabel(text(QStringLiteral("Turn on %@")), FontRole::headline, content_), 1);
    column->addLayout(header);

    QLabel* title = textLabel(item_.title, FontRole::body, content_);
    title->setFont(FenraFont::font(13, QFont::Medium));
    column->addWidget(title);

    if (privacyPane()) {
        column->addWidget(textLabel(QStringLiteral("1. ") + text(QStringLiteral("Find %@ in the list and turn it on.")),
                                    FontRole::body, content_));
        column->addWidget(textLabel(QStringLiteral("2. ") + text(QStringLiteral("Not in the list? Drag it in:")),
                                    FontRole::body, content_));
        dragTile_ = new AppDragTile(bundlePath_, checklist.appName(), checklist.strings(), installLocation_.isNormal(),
                                    content_);
        dragTile_->setFixedHeight(80);
        column->addWidget(dragTile_);
        if (!installLocation_.isNormal()) {
            column->addWidget(
                textLabel(text(QStringLiteral("Move %@ to Applications and reopen it.")), FontRole::subheadline, content_));
            show_ = new QPushButton(text(QStringLiteral("Show in Finder")), content_);
            column->addWidget(show_, 0, Qt::AlignLeft);
            showFailed_ = new ToneLabel(text(QStringLiteral("No file manager could show %@.")), FontRole::subheadline,
                                        &FenraTheme::error(), content_);
            showFailed_->hide();
            column->addWidget(showFailed_);
            showFailedPath_ = new ToneLabel(bundlePath_, FontRole::subheadline, &FenraTheme::error(), content_);
            showFailedPath_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            showFailedPath_->hide();
            column->addWidget(showFailedPath_);
            connect(show_, &QPushButton::clicked, this, &CompanionContent::revealInFileManager);
        }
    } else {
        column->addWidget(
            textLabel(text(QStringLiteral("Review this setting, then return to %@.")), FontRole::body, content_));
        if (item_.accessory) column->addWidget(item_.accessory(content_));
    }

    status_ = new PermissionStatusLabel(PermissionStatus::checking, {}, item_.presentation, content_);
    column->addWidget(status_);

    if (privacyPane()) {
        stillNotWorking_ = textLabel(
            text(QStringLiteral("Still not working? Select %@, remove it with \u2212, then drag it in again.")),
            FontRole::subheadline, content_);
        column->addWidget(stillNotWorking_);
    }
    column->addWidget(new ToneLabel(
        text(QStringLiteral("Switch greyed out? An administrator or your organization manages this setting.")),
        FontRole::footnote, &FenraTheme::info(), content_));

    // Bordered buttons of the default style: the kit's secondary fill is
    // barely apart from the panel.
    auto* footer = new QVBoxLayout;
    footer->setSpacing(8);
    back_ = new QPushButton(text(QStringLiteral("Back to %@")), content_);
    restart_ = new QPushButton(text(QStringLiteral("Restart %@")), content_);
    footer->addWidget(back_, 0, Qt::AlignLeft);
    footer->addWidget(restart_, 0, Qt::AlignLeft);
    column->addLayout(footer);
    connect(back_, &QPushButton::clicked, this, [this] {
        if (onBack_) onBack_();
    });
    connect(restart_, &QPushButton::clicked, this, [this] {
        if (checklist_) checklist_->requestRestart(item_.id);
    });

    connect(&checklist, &PermissionChecklist::changed, this, &CompanionContent::refresh);
    refresh();
}

QString CompanionContent::text(const QString& key) const {
    const PermissionStrings& strings = checklist_->strings();
    return TextFormat::format(strings.string(key), {checklist_->appName()}, strings.locale());
}

bool CompanionContent::privacyPane() const {
    return item_.destination && item_.destination->kind == SettingsDestination::Kind::privacy;
}

void CompanionContent::refresh() {
    if (!checklist_) return;
    const PermissionStatus status = checklist_->status(item_.id);
    status_->set(status, checklist_->strings().string(PermissionStatuses::title(status, item_.presentation)),
                 item_.presentation);
    const bool returnedInVain = privacyPane() && checklist_->returnedWithoutSuccess().contains(item_.id);
    if (stillNotWorking_) stillNotWorking_->setVisible(returnedInVain);
    restart_->setVisible(status == PermissionStatus::restartRequired || returnedInVain);
    content_->adjustSize();
    adjustSize();
}

void CompanionContent::revealInFileManager() {
    if (!reveal_) return;
    if (showFailed_) showFailed_->hide();
    if (showFailedPath_) showFailedPath_->hide();
    reveal_(bundlePath_, [self = QPointer<CompanionContent>(this)](bool shown) {
        if (!self || !self->showFailed_) return;
        self->showFailed_->setVisible(!shown);
        self->showFailedPath_->setVisible(!shown);
        self->refresh();
    });
}

QStringList CompanionContent::visibleTexts() const {
    QStringList texts;
    for (QLabel* label : content_->findChildren<QLabel*>()) {
        if (label->isVisibleTo(content_) && !label->text().isEmpty()) texts.push_back(label->text());
    }
    return texts;
}

}  // namespace kelto
