#include "KeltoPermissions/PermissionRow.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/TextFormat.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "KeltoPermissions/PermissionStatusLabel.h"
#include "KeltoPermissions/internal/TileView.h"
#include "KeltoPermissions/internal/ToneLabel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace kelto {
namespace {

// The platform's bordered button: the application's own style, whose border
// sets it off from the row's fill. A compact style the button had goes.
void bordered(QPushButton& button) {
    QStyle* own = button.style();
    button.setStyle(nullptr);
    if (own != QApplication::style() && own->parent() == &button) delete own;
}

}  // namespace

PermissionRow::PermissionRow(PermissionChecklist& checklist, PermissionItem item, QWidget* parent)
    : QWidget(parent), checklist_(&checklist), item_(std::move(item)) {
    const PermissionStrings& strings = checklist.strings();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);

    auto* main = new QHBoxLayout;
    main->setSpacing(12);
    main->addWidget(new TileView(item_.symbolName, item_.tint, 28, this), 0, Qt::AlignTop);
    auto* info = new QVBoxLayout;
    info->setSpacing(4);
    auto* title = new ToneLabel(item_.title, FontRole::body, nullptr, this);
    title->setFont(FenraFont::font(13, QFont::Medium));
    info->addWidget(title);
    info->addWidget(new ToneLabel(item_.detail, FontRole::subheadline, &FenraTheme::info(), this));
    status_ = new PermissionStatusLabel(PermissionStatus::checking, {}, item_.presentation, this);
    info->addWidget(status_);
    main->addLayout(info, 1);
    cta_ = new QPushButton(this);
    main->addWidget(cta_, 0, Qt::AlignTop);
    column->addLayout(main);
    connect(cta_, &QPushButton::clicked, this, [this] {
        if (checklist_) checklist_->perform(item_.id);
    });

    if (item_.accessory) column->addWidget(item_.accessory(this));

    actions_ = new QWidget(this);
    auto* actions = new QHBoxLayout(actions_);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(8);
    confirm_ = new QPushButton(strings.string(QStringLiteral("I've done this")), actions_);
    actions->addWidget(confirm_);
    connect(confirm_, &QPushButton::clicked, this, [this] {
        if (checklist_) checklist_->confirmManually(item_.id);
    });
    if (item_.secondaryAction) {
        secondary_ = new QPushButton(item_.secondaryAction->title, actions_);
        actions->addWidget(secondary_);
        connect(secondary_, &QPushButton::clicked, this, [this] { item_.secondaryAction->action(); });
    }
    actions->addStretch();
    column->addWidget(actions_);

    error_ = new ToneLabel({}, FontRole::subheadline, &FenraTheme::error(), this);
    column->addWidget(error_);

    restartHint_ = new QPushButton(
        TextFormat::format(strings.string(QStringLiteral("Restart %@")), {checklist.appName()}, strings.locale()), this);
    column->addWidget(restartHint_, 0, Qt::AlignLeft);
    connect(restartHint_, &QPushButton::clicked, this, [this] {
        if (checklist_) checklist_->requestRestart(item_.id);
    });
    refresh(false);
}

QString PermissionRow::statusText(const PermissionChecklist& checklist, const PermissionItem& item) {
    const QString key = checklist.isManuallyConfirmed(item.id)
                            ? QStringLiteral("Marked done")
                            : PermissionStatuses::title(checklist.status(item.id), item.presentation);
    return checklist.strings().string(key);
}

QString PermissionRow::ctaTitle(const PermissionChecklist& checklist, const PermissionItem& item) {
    const PermissionStrings& strings = checklist.strings();
    switch (checklist.cta(item.id)) {
    case PermissionCTA::request:
        if (item.ctaTitle) return *item.ctaTitle;
        return strings.string(item.presentation == PermissionPresentation::setting ? QStringLiteral("Turn On")
                                                                                    : QStringLiteral("Allow"));
    case PermissionCTA::restart:
        return TextFormat::format(strings.string(QStringLiteral("Restart %@")), {checklist.appName()},
                                  strings.locale());
    case PermissionCTA::openSettings:
        return strings.string(QStringLiteral("Open System Settings"));
    case PermissionCTA::none:
        break;
    }
    return {};
}

void PermissionRow::refresh(bool prominent) {
    if (!checklist_) return;
    const PermissionChecklist& checklist = *checklist_;
    const PermissionStatus status = checklist.status(item_.id);
    const QString text = statusText(checklist, item_);
    status_->set(status, text, item_.presentation);
    setAccessibleName(item_.title + QStringLiteral(", ") + text);
    setAccessibleDescription(item_.detail);

    const bool hasCta = checklist.cta(item_.id) != PermissionCTA::none;
    cta_->setVisible(hasCta);
    cta_->setText(ctaTitle(checklist, item_));
    if (prominent != prominent_) {
        prominent_ = prominent;
        if (prominent) {
            KeltoPrimaryButtonStyle::apply(*cta_);
        } else {
            bordered(*cta_);
        }
    }

    const bool offersConfirm = status == PermissionStatus::unverifiable && item_.allowsManualConfirm &&
                               !checklist.isManuallyConfirmed(item_.id);
    confirm_->setVisible(offersConfirm);
    actions_->setVisible(status != PermissionStatus::granted && (offersConfirm || secondary_ != nullptr));

    const auto error = checklist.error(item_.id);
    error_->setText(error.value_or(QString()));
    error_->setVisible(error.has_value());

    const bool allFilesPane = item_.destination &&
                              item_.destination->kind == SettingsDestination::Kind::privacy &&
                              item_.destination->anchor == PrivacyAnchor::allFiles;
    restartHint_->setVisible(allFilesPane && checklist.returnedWithoutSuccess().contains(item_.id) &&
                             status != PermissionStatus::restartRequired);
}

void PermissionRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(path, FenraTheme::stroke().color(palette()));
}

}  // namespace kelto
