#include "KeltoDesign/KeltoSlider.h"
#include "tests/support/widgets/QtPrinting.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>

namespace kelto {
namespace {

using Range = KeltoSliderScale::Range;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

// A slider 216 points wide, so its thumb travels 200 points from x 8.
struct Fixture {
    Binding<double> value;
    std::unique_ptr<KeltoSlider> slider;

    Fixture(double initial, Range range, std::optional<double> step = std::nullopt, int width = 216)
        : value(initial), slider(std::make_unique<KeltoSlider>(value, range, step)) {
        slider->resize(width, KeltoSlider::controlHeight);
        slider->show();
    }

    void press(double x) { QTest::mousePress(slider.get(), Qt::LeftButton, {}, QPoint(static_cast<int>(x), 13)); }
    void move(double x) { QTest::mouseMove(slider.get(), QPoint(static_cast<int>(x), 13)); }
    void release(double x) { QTest::mouseRelease(slider.get(), Qt::LeftButton, {}, QPoint(static_cast<int>(x), 13)); }
    void click(double x) { press(x), release(x); }
    void key(Qt::Key key) { QTest::keyClick(slider.get(), key); }
    QAccessibleInterface* accessible() { return QAccessible::queryAccessibleInterface(slider.get()); }
};

// The default step follows the range; values snap to the grid (halves away
// from zero) and are clamped to the range after; what is not a number is
// the lower bound; a step that is not positive and finite, or bounds not
// finite or backwards, are refused.
TEST(KeltoSliderScale, StepsTheGridAndTheFinalClamp) {
    EXPECT_EQ(KeltoSliderScale(Range{0, 1}).step(), 0.01);
    EXPECT_EQ(KeltoSliderScale(Range{0, 100}).step(), 1.0);
    EXPECT_EQ(KeltoSliderScale(Range{-1, 1}).step(), 1.0);
    for (const auto& [step, in, out] : {std::tuple{3.0, 10.0, 9.0}, std::tuple{4.0, 10.0, 10.0},
                                        std::tuple{4.0, 5.9, 4.0}, std::tuple{4.0, 6.0, 8.0}, std::tuple{3.0, nan, 0.0}}) {
        EXPECT_EQ(KeltoSliderScale(Range{0, 10}, step).snapped(in), out) << step << " " << in;
    }
    const KeltoSliderScale byThree(Range{0, 10}, 3);
    EXPECT_EQ(byThree.fraction(nan), 0);
    EXPECT_EQ(byThree.value(nan), 0);
    EXPECT_EQ(byThree.fraction(-4), 0);
    EXPECT_EQ(byThree.fraction(40), 1);
    for (double step : {0.0, -1.0, nan, infinity}) {
        EXPECT_THROW(KeltoSliderScale(Range{0, 1}, step), std::invalid_argument) << step;
    }
    for (const Range& range : {Range{1, 0}, Range{nan, 1}, Range{0, infinity}}) {
        EXPECT_THROW(KeltoSliderScale{range}, std::invalid_argument);
    }
    Binding<double> value(0);
    EXPECT_THROW(KeltoSlider(value, Range{0, 1}, 0.0), std::invalid_argument);
    EXPECT_THROW(KeltoSlider(value, Range{2, 1}), std::invalid_argument);

    // From -1 to 1 in whole steps, a drag across writes only -1, 0 and 1.
    Fixture fixture(0, Range{-1, 1});
    std::set<double> written;
    QObject::connect(&fixture.value, &BindingNotifier::written, [&] { written.insert(fixture.value.get()); });
    fixture.press(0);
    for (int x = 0; x <= 216; x += 3) fixture.move(x);
    fixture.release(216);
    EXPECT_EQ(written, std::set<double>({-1, 0, 1}));
}

// A range of one value writes its lower bound by click, key and action; a
// slider narrower than its thumb still has a point of travel; a drag past
// the ends writes the snapped bounds.
TEST(KeltoSlider, DegenerateRangesAndDragsPastTheEnds) {
    Fixture single(5, Range{5, 5});
    EXPECT_EQ(single.slider->thumbRect().left(), 0);
    single.click(150);
    EXPECT_EQ(single.value.get(), 5);
    single.value.set(7);
    single.key(Qt::Key_Right);
    EXPECT_EQ(single.value.get(), 5);
    single.value.set(7);
    single.accessible()->actionInterface()->doAction(QAccessibleActionInterface::decreaseAction());
    EXPECT_EQ(single.value.get(), 5);

    Fixture narrow(0.5, Range{0, 1}, std::nullopt, 10);
    EXPECT_EQ(narrow.slider->thumbRect().left(), 0.5);
    narrow.click(9);
    EXPECT_EQ(narrow.value.get(), 1);
    narrow.click(8);
    EXPECT_EQ(narrow.value.get(), 0);

    Fixture byThree(0, Range{0, 10}, 3);
    byThree.press(100);
    byThree.move(400);
    EXPECT_EQ(byThree.value.get(), 9);
    EXPECT_EQ(byThree.slider->thumbRect().right(), 196);
    byThree.move(-50);
    EXPECT_EQ(byThree.value.get(), 0);
    EXPECT_EQ(byThree.slider->thumbRect().left(), 0);
    byThree.release(-50);
    Fixture byFour(0, Range{0, 10}, 4);
    byFour.click(400);
    EXPECT_EQ(byFour.value.get(), 10);
    EXPECT_EQ(byFour.slider->thumbRect().right(), 216);
}

// Arrow keys step and stop at the bounds, open no edit, and other keys pass
// through; a value from outside the range is drawn at the nearer end and
// kept until moved.
TEST(KeltoSlider, ArrowKeysStopAtTheBoundsAndOtherKeysPassThrough) {
    Fixture fixture(9, Range{0, 10}, 3);
    QSignalSpy editing(fixture.slider.get(), &KeltoSlider::editingChanged);
    fixture.key(Qt::Key_Right);
    EXPECT_EQ(fixture.value.get(), 9);
    fixture.key(Qt::Key_Left);
    EXPECT_EQ(fixture.value.get(), 6);
    fixture.value.set(0);
    fixture.key(Qt::Key_Left);
    EXPECT_EQ(fixture.value.get(), 0);
    QSignalSpy written(&fixture.value, &BindingNotifier::written);
    fixture.key(Qt::Key_Up);
    fixture.key(Qt::Key_Down);
    EXPECT_EQ(written.count(), 0);
    fixture.key(Qt::Key_Right);
    EXPECT_EQ(fixture.value.get(), 3);
    EXPECT_EQ(editing.count(), 0);

    Fixture outside(5, Range{0, 1});
    QSignalSpy untouched(&outside.value, &BindingNotifier::written);
    EXPECT_EQ(outside.slider->thumbRect().left(), 200);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(outside.slider.get()));
    outside.slider->repaint();
    EXPECT_EQ(untouched.count(), 0);
    EXPECT_EQ(outside.value.get(), 5);
    outside.key(Qt::Key_Left);
    EXPECT_EQ(outside.value.get(), 1);
}

TEST(KeltoSlider, EachDragIsOpenedAndClosedOnce) {
    Fixture fixture(0, Range{0, 100});
    QSignalSpy editing(fixture.slider.get(), &KeltoSlider::editingChanged);
    fixture.press(58);
    fixture.move(108);
    fixture.release(108);
    EXPECT_EQ(fixture.value.get(), 50);
    ASSERT_EQ(editing.count(), 2);
    EXPECT_TRUE(editing[0][0].toBool());
    EXPECT_FALSE(editing[1][0].toBool());

    // Hidden mid-drag: closed at once, and the release closes nothing more.
    editing.clear();
    fixture.press(20);
    fixture.slider->hide();
    EXPECT_FALSE(fixture.slider->isDragging());
    fixture.release(20);
    ASSERT_EQ(editing.count(), 2);
    EXPECT_FALSE(editing[1][0].toBool());

    // Destroyed mid-drag: closed once as well.
    fixture.slider->show();
    int closed = 0;
    QObject::connect(fixture.slider.get(), &KeltoSlider::editingChanged, [&closed](bool editing) {
        closed += editing ? 0 : 1;
    });
    fixture.press(30);
    fixture.slider.reset();
    EXPECT_EQ(closed, 1);
}

TEST(KeltoSlider, AssistiveTechnologyReadsAPercentageAndSteps) {
    Fixture unit(0.5, Range{0, 1});
    QAccessibleInterface* accessible = unit.accessible();
    EXPECT_EQ(accessible->role(), QAccessible::Slider);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Quality"));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("50 percent"));
    accessible->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_DOUBLE_EQ(unit.value.get(), 0.51);
    unit.slider->setLocale(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Chất lượng"));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("51 phần trăm"));

    Fixture hundred(42, Range{0, 100});
    EXPECT_EQ(hundred.accessible()->text(QAccessible::Value), QStringLiteral("42 percent"));
    hundred.accessible()->actionInterface()->doAction(QAccessibleActionInterface::decreaseAction());
    EXPECT_EQ(hundred.value.get(), 41);

    // No number where none fits a 64-bit integer.
    for (double outside : {nan, infinity, 1e300, 9.3e18}) {
        hundred.value.set(outside);
        EXPECT_EQ(hundred.accessible()->text(QAccessible::Value), QString()) << outside;
    }
    hundred.value.set(-9.2e18);
    EXPECT_FALSE(hundred.accessible()->text(QAccessible::Value).isEmpty());
}

}  // namespace
}  // namespace kelto
