#include "FenraCore/internal/ToolTipShaper.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

constexpr int readableCharacters = 45;

}  // namespace

QString ToolTipShaper::shaped(const QString& text, const QFont& font) {
    const bool rich = Qt::mightBeRichText(text);
    // Plain text keeps its spaces and line breaks and wraps only where a
    // line is too long.
    const QString body = rich ? text
                              : QStringLiteral("<span style='white-space:pre-wrap'>") + text.toHtmlEscaped() +
                                    QStringLiteral("</span>");
    QTextDocument document;
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    document.setHtml(body);
    const int natural = static_cast<int>(std::ceil(document.idealWidth()));
    const int readable = readableCharacters * QFontMetrics(font).averageCharWidth();
    // A table of a set width: the label that shows it can neither narrow
    // nor widen it.
    return QStringLiteral("<table cellspacing='0' cellpadding='0' width='%1'><tr><td>")
               .arg(std::clamp(natural, 1, readable)) +
           body + QStringLiteral("</td></tr></table>");
}

bool ToolTipShaper::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->toolTip().isEmpty()) return false;  // views and menus find their own
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), shaped(widget->toolTip(), QToolTip::font()), widget,
                       QRect(), widget->toolTipDuration());
    return true;
}

}  // namespace kelto
