#include "FenraCore/FenraFont.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

struct RoleStyle {
    double points;
    QFont::Weight weight;
};

RoleStyle styleOf(FontRole role) {
    switch (role) {
    case FontRole::largeTitle: return {26, QFont::Normal};
    case FontRole::title: return {22, QFont::Normal};
    case FontRole::title2: return {17, QFont::Normal};
    case FontRole::title3: return {15, QFont::Normal};
    case FontRole::headline: return {13, QFont::Bold};
    case FontRole::body: return {13, QFont::Normal};
    case FontRole::callout: return {12, QFont::Normal};
    case FontRole::subheadline: return {11, QFont::Normal};
    case FontRole::footnote: return {10, QFont::Normal};
    case FontRole::caption: return {10, QFont::Normal};
    case FontRole::caption2: return {10, QFont::Medium};
    }
    return {13, QFont::Normal};
}

QFont sized(QFont font, double points, QFont::Weight weight) {
    // Whole pixels only: Qt has no fractional pixel size.
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(points))));
    font.setWeight(weight);
    return font;
}

}  // namespace

QFont FenraFont::font(double points, QFont::Weight weight) {
    return sized(QGuiApplication::font(), points, weight);
}

QFont FenraFont::font(FontRole role) {
    const RoleStyle style = styleOf(role);
    return font(style.points, style.weight);
}

QFont FenraFont::monospacedDigits(double points, QFont::Weight weight) {
    QFont application = font(points, weight);
    if (hasUniformDigits(application)) {
        return application;
    }
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), points, weight);
}

QFont FenraFont::monospaced(double points, QFont::Weight weight) {
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), points, weight);
}

bool FenraFont::hasUniformDigits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) != zero) {
            return false;
        }
    }
    return true;
}

}  // namespace kelto
