#include "tests/support/widgets/WidgetRender.h"

#include "FenraCore/FenraStyle.h"

#include <QCoreApplication>
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QWidget>

#include <cmath>

namespace kelto {

namespace {

// Which widgets show, and where: what a render depends on.
QList<std::pair<bool, QRect>> arrangement(const QWidget& widget) {
    QList<std::pair<bool, QRect>> result{{widget.isVisible(), widget.geometry()}};
    for (const QWidget* child : widget.findChildren<QWidget*>())
        result.push_back({child->isVisible(), child->geometry()});
    return result;
}

QString described(const QWidget& widget) {
    QString text = QString::fromLatin1(widget.metaObject()->className());
    if (!widget.objectName().isEmpty()) text += u'#' + widget.objectName();
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) text += QStringLiteral(" \"%1\"").arg(label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) text += QStringLiteral(" [%1]").arg(button->text());
    return text;
}

}  // namespace

QStringList WidgetRender::colourDifferences(const QWidget& switched, const QWidget& made) {
    QList<const QWidget*> left{&switched};
    left += switched.findChildren<const QWidget*>();
    QList<const QWidget*> right{&made};
    right += made.findChildren<const QWidget*>();
    if (left.size() != right.size()) {
        return {QStringLiteral("not made alike: %1 widgets and %2").arg(left.size()).arg(right.size())};
    }
    constexpr QPalette::ColorRole roles[] = {
        QPalette::WindowText, QPalette::Text,      QPalette::ButtonText,      QPalette::PlaceholderText,
        QPalette::Window,     QPalette::Base,      QPalette::Button,          QPalette::Highlight,
        QPalette::Link,       QPalette::ToolTipText, QPalette::HighlightedText};
    QStringList differences;
    for (qsizetype i = 0; i < left.size(); ++i) {
        for (const auto group : {QPalette::Active, QPalette::Disabled}) {
            for (const auto role : roles) {
                const QColor was = left[i]->palette().color(group, role);
                const QColor is = right[i]->palette().color(group, role);
                if (was == is) continue;
                differences << QStringLiteral("%1: %2 %3 is %4, made so %5")
                                   .arg(described(*left[i]))
                                   .arg(group == QPalette::Active ? "active" : "disabled")
                                   .arg(int(role))
                                   .arg(was.name(QColor::HexArgb), is.name(QColor::HexArgb));
            }
        }
    }
    return differences;
}

QStringList WidgetRender::lookSwitchDifferences(const std::function<std::unique_ptr<QWidget>()>& make) {
    const QPalette before = QApplication::palette();
    QStringList differences;
    for (const auto& [from, to] : {std::pair{lightPalette(), darkPalette()}, std::pair{darkPalette(), lightPalette()}}) {
        QApplication::setPalette(from);
        const std::unique_ptr<QWidget> switched = make();
        settle(*switched);
        QApplication::setPalette(to);
        settle(*switched);
        const std::unique_ptr<QWidget> made = make();
        settle(*made);
        differences += colourDifferences(*switched, *made);
    }
    QApplication::setPalette(before);
    return differences;
}

void WidgetRender::settle(QWidget& widget) {
    widget.ensurePolished();
    // A widget added to a visible layout shows through a posted call, and
    // the layout it changes asks for a new pass through a posted event: one
    // turn of each can bring another.
    constexpr int turns = 20;
    auto before = arrangement(widget);
    for (int turn = 0; turn < turns; ++turn) {
        QCoreApplication::sendPostedEvents();
        if (QLayout* layout = widget.layout()) layout->activate();
        for (QLayout* layout : widget.findChildren<QLayout*>()) layout->activate();
        auto after = arrangement(widget);
        if (after == before) return;
        before = std::move(after);
    }
}

QImage WidgetRender::image(QWidget& widget, qreal ratio) {
    settle(widget);
    const QSize pixels(static_cast<int>(std::ceil(widget.width() * ratio)),
                       static_cast<int>(std::ceil(widget.height() * ratio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

WidgetRender::Coverage WidgetRender::coverage(const QImage& image, const QColor& tint) {
    Coverage coverage;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0) continue;
            ++coverage.painted;
            const int tolerance = c.alpha() >= 128 ? 1 : 255 / c.alpha() + 1;  // faint pixels lose precision
            coverage.offTint += std::abs(c.red() - tint.red()) > tolerance ||
                                std::abs(c.green() - tint.green()) > tolerance ||
                                std::abs(c.blue() - tint.blue()) > tolerance;
        }
    return coverage;
}

// The application's own palettes: renders show what the windows show.
QPalette WidgetRender::lightPalette() { return FenraStyle::palette(ColorScheme::light); }

QPalette WidgetRender::withWindowButtons(QPalette palette) {
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Button, palette.color(QPalette::Active, QPalette::Window));
        palette.setColor(group, QPalette::ButtonText, palette.color(QPalette::Active, QPalette::WindowText));
    }
    // Disabled text halfway to the window, as desktops draw it.
    const auto dimmed = [&](QPalette::ColorRole role) {
        const QColor text = palette.color(QPalette::Active, role), window = palette.color(QPalette::Active, QPalette::Window);
        return QColor((text.red() + window.red()) / 2, (text.green() + window.green()) / 2, (text.blue() + window.blue()) / 2);
    };
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText,
                            QPalette::Highlight})
        palette.setColor(QPalette::Disabled, role, dimmed(role));
    return palette;
}

QPalette WidgetRender::darkPalette() { return FenraStyle::palette(ColorScheme::dark); }

}  // namespace kelto
