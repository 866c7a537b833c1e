#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTest>

#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "FenraMac/MenuBarIcon.h"
#include "KeltoDesign/KeltoCheckbox.h"
#include "KeltoDesign/KeltoIcon.h"
#include "KeltoDesign/KeltoLogo.h"
#include "KeltoDesign/KeltoMonochromeIcon.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "KeltoDesign/KeltoProductMark.h"
#include "KeltoDesign/KeltoSecondaryButtonStyle.h"
#include "KeltoDesign/KeltoSegmented.h"
#include "KeltoDesign/KeltoSlider.h"
#include "KeltoDesign/KeltoTextFieldStyle.h"
#include "KeltoDesign/internal/SegmentButton.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/support/widgets/WidgetRender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace kelto {
namespace {

// The sync mark keeps its height in a wider rectangle and centres in it; the template mark draws the same path.
TEST(KeltoProductMark, TheSyncMarkFillsItsSquareAndCentresInAWiderOne) {
    const QPainterPath square = KeltoProductMarks::path(KeltoProductMark::sync, QRectF(0, 0, 16, 16));
    EXPECT_TRUE(QRectF(0, 0, 16, 16).contains(square.boundingRect()) && square.boundingRect().height() > 13)
        << square.boundingRect().height();
    EXPECT_EQ(KeltoProductMarks::path(KeltoProductMark::sync, QRectF(0, 0, 32, 16)), square.translated(8, 0));
    const TemplateMark mark = KeltoProductMarks::templateMark(KeltoProductMark::sync);
    EXPECT_EQ(mark.path(QRectF(1, 1, 16, 16)), square.translated(1, 1));
}

constexpr double ratio = 4;

// A mark covering its whole square, so every hole shows; or a square with a smaller one inside, wound alike.
TemplateMark squares(bool nested, Qt::FillRule rule = Qt::WindingFill) {
    return TemplateMark{[nested](const QRectF& rect) {
                            QPainterPath path;
                            path.addRect(rect);
                            if (nested) path.addRect(rect.adjusted(4, 4, -4, -4));
                            return path;
                        },
                        rule, true};
}
TemplateMark fullSquare() { return squares(false); }

QImage render(const TemplateMark& mark, const MenuBarIconState& state) {
    const TemplateImage image = MenuBarIcon::image(mark, state, QStringLiteral("Kelto Sync"));
    return image.icon.pixmap(QSize(18, 18), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The alpha at a point of the 18-point picture.
int alphaAt(const QImage& image, double x, double y) {
    return qAlpha(image.pixel(static_cast<int>(x * ratio), static_cast<int>(y * ratio)));
}

// Edges are antialiased, so probes allow a little coverage.
bool inked(const QImage& image, double x, double y) { return alphaAt(image, x, y) > 223; }
bool empty(const QImage& image, double x, double y) { return alphaAt(image, x, y) < 32; }

// A mask drawn afresh for each size, named; a symbol without artwork gives none; nothing is drawn without a painter.
TEST(MenuBarIcon, AnEighteenPointMaskWithItsDescriptionAndEachStatesBadge) {
    const TemplateImage image = MenuBarIcon::image(fullSquare(), MenuBarIconState::idle(), QStringLiteral("Kelto Sync"));
    EXPECT_TRUE(image.icon.isMask());
    EXPECT_EQ(image.icon.pixmap(QSize(18, 18), 2).size(), QSize(36, 36));
    EXPECT_FALSE(TemplateImage::named(QStringLiteral("no.such.symbol")).has_value());
    const std::optional<TemplateImage> add = TemplateImage::symbol(FenraIcon::add, QStringLiteral("Add"));
    ASSERT_TRUE(add.has_value());
    EXPECT_TRUE(add->icon.isMask());
    EXPECT_FALSE(MenuBarIcon::draw(nullptr, fullSquare(), MenuBarIconState::idle()));
    QPainter idle;
    EXPECT_FALSE(MenuBarIcon::draw(&idle, fullSquare(), MenuBarIconState::attention()));
    // Where each state's badge inks and leaves a gap: at or below zero the ring alone, at or above one the full disc,
    // a quarter from twelve to three; attention top right, the others bottom right, each clearing the mark only
    // around it; the mark's fill rule cuts its holes.
    struct Row {
        const char* name;
        MenuBarIconState state;
        std::vector<QPointF> inkedAt, emptyAt;
    };
    const std::vector<QPointF> ring{{14.5, 12.0}, {9, 9}}, ringOnly{{14.5, 14.5}, {14.5, 11.3}};
    const std::vector<QPointF> disc{{13.6, 13.6}, {15.4, 13.6}, {13.6, 15.4}, {15.4, 15.4}};
    const Row rows[] = {
        {"idle", MenuBarIconState::idle(), {{9, 9}, {14.5, 14.5}}, {{0.5, 0.5}}},
        {"zero", MenuBarIconState::progress(0), ring, ringOnly},
        {"below zero", MenuBarIconState::progress(-0.3), ring, ringOnly},
        {"unknown", MenuBarIconState::progress(std::numeric_limits<double>::quiet_NaN()), ring, ringOnly},
        {"one", MenuBarIconState::progress(1), disc, {{14.5, 11.3}}},
        {"above one", MenuBarIconState::progress(7), disc, {{14.5, 11.3}}},
        {"a quarter", MenuBarIconState::progress(0.25), {{15.4, 13.4}, {9, 9}}, {{13.4, 13.4}, {15.4, 15.6}, {13.4, 15.6}}},
        {"attention", MenuBarIconState::attention(), {{15, 3}, {9, 9}, {14.5, 14.5}}, {{15, 5.6}}},
        {"paused", MenuBarIconState::paused(), {{13.25, 14.5}, {16.25, 14.5}, {9, 9}, {15, 3}}, {{14.75, 14.5}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QImage image = render(fullSquare(), row.state);
        for (const QPointF& at : row.inkedAt) EXPECT_TRUE(inked(image, at.x(), at.y())) << at.x() << ", " << at.y();
        for (const QPointF& at : row.emptyAt) EXPECT_TRUE(empty(image, at.x(), at.y())) << at.x() << ", " << at.y();
    }
    EXPECT_TRUE(empty(render(squares(true, Qt::OddEvenFill), MenuBarIconState::idle()), 9, 9));
    EXPECT_TRUE(inked(render(squares(true), MenuBarIconState::idle()), 9, 9));
}

// The logo's box is scaled to the shorter side and centred; the template leaves P8, the table, as a hole.
TEST(KeltoLogo, CentredAndTheTemplateLeavesTheTableAsAHole) {
    KeltoLogo logo;
    logo.resize(200, 100);
    const QImage image = WidgetRender::image(logo);
    int outside = 0, inside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) (x < 50 || x >= 150 ? outside : inside) += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 0);
    QImage stencil(64, 64, QImage::Format_ARGB32);
    stencil.fill(Qt::transparent);
    QPainter painter(&stencil);
    KeltoLogo::paint(painter, QRectF(0, 0, 64, 64), KeltoLogo::Style::template_, Qt::black);
    EXPECT_EQ(qAlpha(stencil.pixel(KeltoLogo::polygons()[7].boundingRect().center().toPoint())), 0);
    EXPECT_EQ(qAlpha(stencil.pixel(32, 20)), 255) << "P3 around the table";
}

// Every glyph has artwork; a monochrome icon's tint follows the palette's appearance.
TEST(KeltoIcon, EveryGlyphHasArtworkAndTheTintFollowsThePalettesAppearance) {
    for (KeltoIcon icon : KeltoIcons::allCases())
        EXPECT_TRUE(SymbolImage::hasArtwork(symbolName(icon))) << symbolName(icon).toStdString();
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        KeltoMonochromeIcon icon(KeltoIcon::permissionLoginItem, 24, FenraTheme::accent());
        icon.setPalette(look.palette);
        icon.resize(icon.sizeHint());
        const auto coverage = WidgetRender::coverage(WidgetRender::image(icon), FenraTheme::accent().color(look.palette));
        EXPECT_GT(coverage.painted, 0) << look.name;
        EXPECT_EQ(coverage.offTint, 0) << look.name;
    }
}

// A control 10 points into a light window with no background, so that what it draws outside its rectangle shows.
template <class Control>
struct Placed {
    QWidget window;
    Control* control;
    template <class... Arguments>
    explicit Placed(Arguments&&... arguments) : control(new Control(std::forward<Arguments>(arguments)..., &window)) {
        window.setPalette(WidgetRender::lightPalette());
        window.resize(240, 80);
        control->move(10, 10);
    }
    QColor pixel(QPointF point) {
        const QPoint at = control->mapTo(&window, QPoint(int(std::floor(point.x())), int(std::floor(point.y()))));
        return WidgetRender::pixel(WidgetRender::image(window), at.x(), at.y());
    }
};

// Pressed, the fill changes; disabled, the button dims as one layer, its shadow with it.
TEST(KeltoButtonStyles, HeightsAndFillsAtRestPressedAndDisabled) {
    Placed<QPushButton> primary(QStringLiteral("Grant access")), secondary(QStringLiteral("Later"));
    KeltoPrimaryButtonStyle::apply(*primary.control);
    KeltoSecondaryButtonStyle::apply(*secondary.control);
    const QPointF fill(6, 14);  // clear of the label and the rounded corners
    for (auto* placed : {&primary, &secondary}) {
        placed->control->resize(placed->control->sizeHint());
        const QColor atRest = placed->pixel(fill);
        placed->control->setDown(true);
        EXPECT_NE(placed->pixel(fill), atRest);
        placed->control->setDown(false);
    }
    const QPointF shadow(primary.control->width() / 2.0, primary.control->height() + 0.2);
    const int litShadow = primary.pixel(shadow).alpha();
    EXPECT_GT(litShadow, 0);
    primary.control->setEnabled(false);
    const double dimmed = primary.pixel(fill).alphaF();
    EXPECT_LT(dimmed, 0.6);
    EXPECT_NEAR(primary.pixel(shadow).alpha(), litShadow * dimmed, 2);
}

// A click on a segment writes its value and lights that segment alone.
TEST(KeltoSegmentedTest, AClickWritesTheSegmentsValueAndLightsItAlone) {
    Binding<int> selection(1);
    KeltoSegmented<int> segmented(selection, {{QStringLiteral("Fast"), 1}, {QStringLiteral("Safe"), 2}});
    segmented.resize(segmented.sizeHint());
    segmented.show();
    QTest::mouseClick(segmented.segments()[1], Qt::LeftButton);
    EXPECT_EQ(selection.get(), 2);
    std::vector<bool> selected;
    for (SegmentButton* segment : segmented.segments())
        selected.push_back(QAccessible::queryAccessibleInterface(segment)->state().selected);
    EXPECT_EQ(selected, std::vector<bool>({false, true}));
}

// The whole row takes the click, the far end of the label too.
TEST(KeltoCheckbox, TheWholeRowTakesTheClick) {
    KeltoCheckbox labelled(QStringLiteral("Notify"));
    labelled.resize(labelled.sizeHint());
    labelled.show();
    QTest::mouseClick(&labelled, Qt::LeftButton, {}, QPoint(labelled.width() - 1, labelled.height() - 1));
    EXPECT_TRUE(labelled.isChecked());
}

// The focus ring lies outside the field, which stays 26 high.
TEST(KeltoTextFieldStyle, TheFocusRingLiesOutsideAFieldThatStays26High) {
    Placed<QLineEdit> field;
    KeltoTextFieldStyle::apply(*field.control);
    field.control->resize(160, field.control->sizeHint().height());
    const QRect frame = field.control->geometry();
    const QPointF band(-1.5, 13);
    EXPECT_EQ(field.pixel(band).alpha(), 0);
    field.window.show();
    QApplication::setActiveWindow(&field.window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&field.window));
    field.control->setFocus();
    EXPECT_GT(field.pixel(band).alpha(), 0);
    EXPECT_EQ(field.control->geometry(), frame);
    EXPECT_EQ(frame.height(), 26);
}

// A drag, past both ends too, writes only values on the step's grid within the range.
TEST(KeltoSlider, ADragWritesOnlyGridValuesWithinTheBounds) {
    Binding<double> value(0);
    KeltoSlider slider(value, KeltoSliderScale::Range{0, 10}, 3);
    slider.resize(216, KeltoSlider::controlHeight);
    slider.show();
    std::set<double> written;
    QObject::connect(&value, &BindingNotifier::written, [&] { written.insert(value.get()); });
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(100, 13));
    for (int x = -50; x <= 400; x += 3) QTest::mouseMove(&slider, QPoint(x, 13));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(400, 13));
    EXPECT_EQ(written, std::set<double>({0, 3, 6, 9}));
}

}  // namespace
}  // namespace kelto
