#pragma once

#include <QPainterPath>
#include <QPolygonF>
#include <QWidget>

#include <array>

class QPainter;

namespace kelto {

// The brand's logo, drawn from eight polygons in a 64 by 64 box scaled
// uniformly to the largest square the widget holds and centred in it. In
// colour it paints five fills; as a template it fills P1, P2 and P3 with the
// palette's text colour, and P8, wound against P3, stays a hole. Decoration
// only: it takes no clicks and assistive technology skips it.
class KeltoLogo : public QWidget {
    Q_OBJECT

public:
    // `template_` is spelled so only because `template` is reserved.
    enum class Style { color, template_ };

    explicit KeltoLogo(Style style = Style::color, QWidget* parent = nullptr);

    Style style() const { return style_; }

    // The polygons P1 to P8 in design units; P1 to P7 run clockwise on
    // screen, P8 counter-clockwise inside P3. Built once.
    static const std::array<QPolygonF, 8>& polygons();
    // P1, P2, P3 and P8 as four subpaths, non-zero winding. Built once.
    static const QPainterPath& templatePath();
    // The design box placed in a canvas of the size: scale, then centring.
    static QTransform placement(const QSizeF& canvas);
    // Draws the logo into the rectangle; a template fills with `ink`.
    static void paint(QPainter& painter, const QRectF& canvas, Style style, const QColor& ink);

    QSize sizeHint() const override { return {64, 64}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style style_;
};

}  // namespace kelto
