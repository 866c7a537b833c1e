#include "tests/support/widgets/TextContrast.h"

#include "FenraCore/Contrast.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QHash>
#include <algorithm>
#include <QLabel>

namespace kelto {
namespace {

RGB rgb(const QColor& c) { return RGB(c.redF(), c.greenF(), c.blueF()); }

// The colour that covers most of `area`: with text in it, the background.
QColor dominant(const QImage& image, const QRect& area) {
    QHash<QRgb, int> counts;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) ++counts[image.pixel(x, y)];
    const auto best = std::max_element(counts.cbegin(), counts.cend());
    return best == counts.cend() ? QColor(Qt::black) : QColor::fromRgb(best.key());
}

QColor over(const QColor& ink, const QColor& ground) {
    const double a = ink.alphaF();
    return QColor::fromRgbF(static_cast<float>(ink.redF() * a + ground.redF() * (1 - a)),
                            static_cast<float>(ink.greenF() * a + ground.greenF() * (1 - a)),
                            static_cast<float>(ink.blueF() * a + ground.blueF() * (1 - a)));
}

}  // namespace

std::vector<TextContrast::Finding> TextContrast::below(QWidget& window, double minimum) {
    window.show();
    WidgetRender::settle(window);
    QImage image(window.size(), QImage::Format_RGB32);
    image.fill(window.palette().color(QPalette::Window));
    window.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    std::vector<Finding> found;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisible() || !label->isEnabled() || label->text().trimmed().isEmpty() ||
            label->textFormat() == Qt::RichText) {
            continue;
        }
        // What a scroll area clips away is not drawn where the label lies.
        const QRect shown = label->visibleRegion().boundingRect();
        if (shown.isEmpty()) continue;
        const QRect area(label->mapTo(&window, shown.topLeft()), shown.size());
        const QColor ground = dominant(image, area);
        const QColor ink = over(label->palette().color(QPalette::Active, label->foregroundRole()), ground);
        const double ratio = Contrast::ratio(rgb(ink), rgb(ground));
        if (ratio < minimum) {
            found.push_back({label->objectName().isEmpty() ? label->text() : label->objectName(), ratio});
        }
    }
    return found;
}

double TextContrast::strongest(const QImage& image, const QRect& area, const QColor& ground) {
    double best = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            best = std::max(best, Contrast::ratio(rgb(over(image.pixelColor(x, y), ground)), rgb(ground)));
    return best;
}

QString TextContrast::describe(const std::vector<Finding>& findings) {
    QStringList lines;
    for (const Finding& finding : findings) lines << QStringLiteral("%1: %2:1").arg(finding.label).arg(finding.ratio, 0, 'f', 2);
    return lines.join(QLatin1Char('\n'));
}

}  // namespace kelto
