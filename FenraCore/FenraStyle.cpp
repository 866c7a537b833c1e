#include "FenraCore/FenraStyle.h"

#include "FenraCore/Appearance.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "FenraCore/internal/ToolTipShaper.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <QWidget>

#include <algorithm>

namespace kelto {
namespace {

constexpr double disabledOpacity = 0.45;

struct Greys {
    QColor window, base, alternateBase, button, text, disabledText, light, midlight, mid, dark, shadow;
    QColor inactiveSelection;
};

Greys greys(ColorScheme scheme) {
    if (scheme == ColorScheme::dark) {
        return {{43, 43, 45},    {30, 30, 32}, {47, 47, 49}, {58, 58, 61}, {236, 236, 238}, {128, 128, 132},
                {74, 74, 78},    {64, 64, 68}, {48, 48, 51}, {24, 24, 26}, {0, 0, 0}, {72, 72, 76}};
    }
    return {{236, 236, 236}, {255, 255, 255}, {245, 245, 245}, {250, 250, 250}, {0, 0, 0}, {150, 150, 150},
            {255, 255, 255}, {245, 245, 245}, {184, 184, 184}, {160, 160, 160}, {100, 100, 100}, {212, 212, 214}};
}

// A rounded rectangle as Qt draws it: circular corners.
QPainterPath rounded(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

}  // namespace

namespace {

// A button that is on and shows it by its face: a checked push button, or a
// tool button with a border of its own (not a flat one, such as a
// disclosure, whose state its arrow tells).
bool isToggleButton(const QStyleOption* option, const QWidget* widget) {
    if (!(option->state & QStyle::State_On)) return false;
    if (widget == nullptr || widget->inherits("QPushButton")) return true;
    return widget->inherits("QToolButton") && !(option->state & QStyle::State_AutoRaise);
}

}  // namespace

FenraStyle::FenraStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QPalette FenraStyle::palette(ColorScheme scheme) {
    const Greys g = greys(scheme);
    const QColor accent = FenraTheme::accent().color(scheme);
    const QColor onAccent = FenraTheme::onAccent().color(scheme);
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor text = disabled ? g.disabledText : g.text;
        palette.setColor(group, QPalette::Window, g.window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, g.base);
        palette.setColor(group, QPalette::AlternateBase, g.alternateBase);
        palette.setColor(group, QPalette::ToolTipBase, g.base);
        palette.setColor(group, QPalette::ToolTipText, g.text);
        palette.setColor(group, QPalette::PlaceholderText, g.disabledText);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, g.button);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, scheme == ColorScheme::dark ? g.text : QColor(255, 255, 255));
        palette.setColor(group, QPalette::Light, g.light);
        palette.setColor(group, QPalette::Midlight, g.midlight);
        palette.setColor(group, QPalette::Mid, g.mid);
        palette.setColor(group, QPalette::Dark, g.dark);
        palette.setColor(group, QPalette::Shadow, g.shadow);
        // In a window in the background the selection steps back to grey
        // under the label colour, as the platform's lists do.
        const bool active = group == QPalette::Active;
        palette.setColor(group, QPalette::Highlight, active ? accent : g.inactiveSelection);
        palette.setColor(group, QPalette::HighlightedText, active ? onAccent : text);
        palette.setColor(group, QPalette::Link, accent);
        palette.setColor(group, QPalette::LinkVisited, accent);
    }
    return palette;
}

QPalette FenraStyle::standardPalette() const { return palette(ColorScheme::light); }

void FenraStyle::polish(QApplication* application) {
    QProxyStyle::polish(application);
    if (application->findChild<ToolTipShaper*>(QString(), Qt::FindDirectChildrenOnly) == nullptr) {
        application->installEventFilter(new ToolTipShaper(application));
    }
}

void FenraStyle::unpolish(QApplication* application) {
    delete application->findChild<ToolTipShaper*>(QString(), Qt::FindDirectChildrenOnly);
    QProxyStyle::unpolish(application);
}

QIcon FenraStyle::standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const {
    const QPalette& colours = widget != nullptr ? widget->palette() : option != nullptr ? option->palette
                                                                                          : QApplication::palette();
    switch (icon) {
    case SP_MessageBoxWarning:
    case SP_MessageBoxQuestion: return SymbolImage::icon(FenraIcon::warning, FenraTheme::warning().color(colours));
    case SP_MessageBoxCritical: return SymbolImage::icon(FenraIcon::error, FenraTheme::error().color(colours));
    case SP_MessageBoxInformation: return SymbolImage::icon(FenraIcon::info, FenraTheme::info().color(colours));
    default: return QProxyStyle::standardIcon(icon, option, widget);
    }
}

int FenraStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                          QStyleHintReturn* returnData) const {
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void FenraStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                               const QWidget* widget) const {
    const ColorScheme scheme = Appearance::scheme(option->palette);
    const bool enabled = option->state & State_Enabled;
    if (element == PE_IndicatorCheckBox) {
        // The kit's box: the accent with a check when on, the stroke colour
        // inside a tertiary border when off.
        const bool on = option->state & (State_On | State_NoChange);
        const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        const double radius = 4.0 * box.width() / 15.0;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (!enabled) painter->setOpacity(disabledOpacity);
        const QColor accent = FenraTheme::accent().color(scheme);
        painter->fillPath(rounded(box, radius), on ? accent : FenraTheme::stroke().color(scheme));
        painter->setPen(QPen(on ? accent : FenraTheme::textTertiary().color(scheme), 1));
        painter->drawPath(rounded(box, radius));
        if (on) {
            QPen mark(FenraTheme::onAccent().color(scheme), std::max(1.5, box.width() / 8));
            mark.setCapStyle(Qt::RoundCap);
            mark.setJoinStyle(Qt::RoundJoin);
            painter->setPen(mark);
            const auto at = [&](double x, double y) { return box.topLeft() + QPointF(x * box.width(), y * box.height()); };
            if (option->state & State_NoChange) {
                painter->drawLine(at(0.28, 0.5), at(0.72, 0.5));
            } else {
                QPainterPath check(at(0.27, 0.53));
                check.lineTo(at(0.43, 0.69));
                check.lineTo(at(0.74, 0.33));
                painter->drawPath(check);
            }
        }
        painter->restore();
        return;
    }
    if (element == PE_PanelButtonCommand && isToggleButton(option, widget)) {
        // A toggle button that is on fills with the accent, so it reads
        // apart from its neighbours that are off in either appearance.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (!enabled) painter->setOpacity(disabledOpacity);
        QColor fill = FenraTheme::accent().color(scheme);
        if (option->state & State_Sunken) fill.setAlphaF(0.85f);
        painter->fillPath(rounded(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 3), fill);
        painter->restore();
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void FenraStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    const bool label = element == CE_PushButtonLabel || element == CE_ToolButtonLabel;
    if (label && isToggleButton(option, widget)) {
        QColor text = FenraTheme::onAccent().color(Appearance::scheme(option->palette));
        if (!(option->state & State_Enabled)) text.setAlphaF(static_cast<float>(disabledOpacity));
        const auto onAccent = [&](QStyleOption& copy) {
            for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                copy.palette.setColor(group, QPalette::ButtonText, text);
            }
            QProxyStyle::drawControl(element, &copy, painter, widget);
        };
        if (const auto* push = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            QStyleOptionButton copy = *push;
            onAccent(copy);
            return;
        }
        if (const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            QStyleOptionToolButton copy = *tool;
            onAccent(copy);
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void FenraStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                    const QWidget* widget) const {
    if (control == CC_ToolButton) {
        // An icon-only button that opens its menu (the "more" ellipsis) is
        // told by its icon; Fusion's arrow would sit on top of it. A split
        // button keeps its arrow, the part that opens the menu.
        const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option);
        if (tool != nullptr && (tool->features & QStyleOptionToolButton::HasMenu) &&
            !(tool->features & (QStyleOptionToolButton::MenuButtonPopup | QStyleOptionToolButton::PopupDelay)) &&
            tool->toolButtonStyle == Qt::ToolButtonIconOnly && !tool->icon.isNull()) {
            QStyleOptionToolButton copy = *tool;
            copy.features &= ~QStyleOptionToolButton::HasMenu;
            drawComplexControl(control, &copy, painter, widget);
            return;
        }
    }
    if (control == CC_ToolButton && (option->state & State_AutoRaise) && (option->state & State_On)) {
        // Fusion draws a flat tool button that is on pressed in, so a
        // disclosure would switch between a flat and a framed look as it
        // opens; its arrow already tells.
        if (const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            QStyleOptionToolButton copy = *tool;
            copy.state &= ~State_On;
            QProxyStyle::drawComplexControl(control, &copy, painter, widget);
            return;
        }
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

}  // namespace kelto
