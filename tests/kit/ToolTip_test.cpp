#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>
#include <QWidget>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// The tip Qt shows now, if any.
QLabel* shownTip() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->inherits("QTipLabel") && top->isVisible()) return static_cast<QLabel*>(top);
    }
    return nullptr;
}

QSize tipFor(QWidget& widget, const QString& text) {
    widget.setToolTip(text);
    QHelpEvent asked(QEvent::ToolTip, QPoint(10, 10), widget.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&widget, &asked);
    QLabel* tip = shownTip();
    const QSize size = tip != nullptr ? tip->size() : QSize();
    QToolTip::hideText();
    return size;
}

// A long name wraps at a readable width, plain or looking like markup; a
// short text stays on one line; text that looks like markup is not cut to
// a narrow column.
TEST(ToolTips, WrapAtAReadableWidth) {
    QWidget widget;
    widget.resize(200, 100);
    widget.show();
    const QFontMetrics metrics(QToolTip::font());
    const int line = metrics.lineSpacing();
    const int readable = 45 * metrics.averageCharWidth();
    const QString name = QStringLiteral("A very long job name that goes on and on for quite a while, and then some more "
                                        "words \u2014 Match source");
    for (const QString& text : {name, QStringLiteral("<b>") + name + QStringLiteral("</b>")}) {
        SCOPED_TRACE(text.toStdString());
        const QSize tip = tipFor(widget, text);
        EXPECT_GE(tip.width(), readable * 3 / 4);
        EXPECT_LE(tip.width(), readable + 16);
        EXPECT_LE(tip.height(), 4 * line + 8) << "a few lines, not a narrow column";
    }
    const QSize shortTip = tipFor(widget, QStringLiteral("Job actions"));
    EXPECT_LT(shortTip.height(), 2 * line);
    EXPECT_LE(shortTip.width(), metrics.horizontalAdvance(QStringLiteral("Job actions")) + 16);
}

}  // namespace
}  // namespace kelto
