#include "Kelto_Sync/Status/TrayIconImage.h"

#include "FenraCore/FenraStyle.h"
#include "FenraMac/MenuBarIcon.h"
#include "KeltoDesign/KeltoProductMark.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Status/MenuBarIconRule.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <array>
#include <cmath>

namespace kelto {

TrayIconImage::TrayIconImage(QObject* parent) : QObject(parent) {
    // Light until the desktop says otherwise.
    color_ = FenraStyle::palette(ColorScheme::light).color(QPalette::WindowText);
    icon_ = render(drawn_, color_);
}

void TrayIconImage::follow(AppModelAdapter& model) {
    const auto recompute = [this, &model] {
        setState(MenuBarIconRule::state(model.jobs(), model.statuses(), model.lastRecords(),
                                        model.errorMessage().has_value()));
    };
    for (auto signal : {&AppModelAdapter::jobsChanged, &AppModelAdapter::statusesChanged,
                        &AppModelAdapter::lastRecordsChanged, &AppModelAdapter::errorMessageChanged}) {
        connect(&model, signal, this, recompute);
    }
    recompute();
}

MenuBarIconState TrayIconImage::drawable(const MenuBarIconState& state) {
    if (state.kind != MenuBarIconState::Case::progress) return state;
    const double fraction = std::isnan(state.fraction) ? 0.0 : std::clamp(state.fraction, 0.0, 1.0);
    return MenuBarIconState::progress(std::round(fraction * 100) / 100);
}

QIcon TrayIconImage::render(const MenuBarIconState& state, const QColor& color) {
    const TemplateMark mark = KeltoProductMarks::templateMark(KeltoProductMark::sync);
    QIcon icon;
    // The sizes panels ask for, each drawn afresh so none is scaled.
    for (const int side : std::array{16, 18, 22, 24, 32, 36, 44, 48}) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.scale(side / MenuBarIcon::side, side / MenuBarIcon::side);
        MenuBarIcon::draw(&painter, mark, state);
        painter.resetTransform();
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

void TrayIconImage::setState(const MenuBarIconState& state) {
    state_ = state;
    update(drawable(state), color_);
}

void TrayIconImage::setScheme(ColorScheme scheme) { setPalette(FenraStyle::palette(scheme)); }

void TrayIconImage::setPalette(const QPalette& palette) { update(drawn_, palette.color(QPalette::WindowText)); }

void TrayIconImage::update(const MenuBarIconState& drawn, const QColor& color) {
    if (drawn == drawn_ && color == color_) return;
    drawn_ = drawn;
    color_ = color;
    icon_ = render(drawn_, color_);
    emit iconChanged(icon_);
}

}  // namespace kelto
