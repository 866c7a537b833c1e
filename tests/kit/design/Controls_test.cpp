#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/KeltoCheckbox.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "KeltoDesign/KeltoSecondaryButtonStyle.h"
#include "KeltoDesign/KeltoSegmented.h"
#include "KeltoDesign/KeltoTextFieldStyle.h"
#include "KeltoDesign/internal/SegmentButton.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace kelto {
namespace {

// A control placed 10 points into a window with a light palette and no
// background, so that what it draws outside its own rectangle shows, alone,
// when the window is rendered.
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
    // The colour of the pixel holding a point of the control's coordinates.
    QColor pixel(QPointF point) {
        const QPoint at = control->mapTo(&window, QPoint(int(std::floor(point.x())), int(std::floor(point.y()))));
        return WidgetRender::pixel(WidgetRender::image(window), at.x(), at.y());
    }
};

// Equal but for the rounding of premultiplied alpha.
bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 && std::abs(a.blue() - b.blue()) <= 2;
}

// At rest, pressed (the translucent fill over its faint shadow) and
// disabled: dimmed as one layer, shadow included, none showing through.
TEST(KeltoButtonStyles, HeightsAndFillsAtRestPressedAndDisabled) {
    Placed<QPushButton> primary(QStringLiteral("Grant access")), secondary(QStringLiteral("Later")),
        disabled(QStringLiteral("Continue"));
    KeltoPrimaryButtonStyle::apply(*primary.control);
    KeltoSecondaryButtonStyle::apply(*secondary.control);
    KeltoPrimaryButtonStyle::apply(*disabled.control);
    for (auto* placed : {&primary, &secondary, &disabled}) placed->control->resize(placed->control->sizeHint());
    EXPECT_EQ(primary.control->height(), 28);
    EXPECT_EQ(secondary.control->height(), 26);
    const QPointF fill(6, 14);  // clear of the label and the rounded corners
    EXPECT_EQ(primary.pixel(fill), FenraTheme::accent().light.color());
    EXPECT_EQ(secondary.pixel(fill), FenraTheme::stroke().light.color());
    primary.control->setDown(true);
    secondary.control->setDown(true);
    const QColor pressed = primary.pixel(fill);
    EXPECT_NEAR(pressed.alphaF(), 0.85 + 0.15 * 0.08, 0.01);
    EXPECT_LT(pressed.blueF(), FenraTheme::accent().light.color().blueF());
    EXPECT_EQ(secondary.pixel(fill), FenraTheme::textTertiary().light.color());

    const QPointF shadow(disabled.control->width() / 2.0, disabled.control->height() + 0.2);
    const int litShadow = disabled.pixel(shadow).alpha();
    EXPECT_GT(litShadow, 0);
    disabled.control->setEnabled(false);
    const QColor dimmed = disabled.pixel(fill);
    EXPECT_NEAR(dimmed.alphaF(), 0.45, 0.01);
    EXPECT_TRUE(near(dimmed, FenraTheme::accent().light.color()));
    EXPECT_NEAR(disabled.pixel(shadow).alpha(), litShadow * 0.45, 2);
}

std::vector<bool> selectedStates(const SegmentedBar& bar) {
    std::vector<bool> states;
    for (SegmentButton* segment : bar.segments()) states.push_back(QAccessible::queryAccessibleInterface(segment)->state().selected);
    return states;
}

// Equal values light together, an unmatched selection lights none, the
// chosen segment writes its value again, segments share the row's width;
// without choices only the padded ground is drawn.
TEST(KeltoSegmentedTest, EqualValuesLightTogetherAndAnUnmatchedSelectionLightsNone) {
    Binding<int> selection(1);
    KeltoSegmented<int> segmented(selection, {{QStringLiteral("Fast"), 1}, {QStringLiteral("Safe"), 2},
                                              {QStringLiteral("Quick"), 1}});
    segmented.resize(segmented.sizeHint());
    segmented.show();
    EXPECT_EQ(selectedStates(segmented), std::vector<bool>({true, false, true}));
    selection.set(9);
    EXPECT_EQ(selectedStates(segmented), std::vector<bool>({false, false, false}));
    QSignalSpy written(&selection, &BindingNotifier::written);
    QTest::mouseClick(segmented.segments()[1], Qt::LeftButton);
    EXPECT_EQ(selection.get(), 2);
    EXPECT_EQ(selectedStates(segmented), std::vector<bool>({false, true, false}));
    QTest::mouseClick(segmented.segments()[1], Qt::LeftButton);
    EXPECT_EQ(written.count(), 2);
    EXPECT_EQ(segmented.segments()[0]->width(), segmented.segments()[2]->width());

    KeltoSegmented<int> none(selection, {});
    none.setPalette(WidgetRender::lightPalette());
    EXPECT_EQ(none.sizeHint(), QSize(4, 4));
    none.resize(40, 28);
    EXPECT_EQ(WidgetRender::pixel(WidgetRender::image(none), 20, 14), FenraTheme::stroke().light.color());
}

// The whole row takes the click, label or not, the gap between box and
// label too; assistive technology reads on and off in the widget's language.
TEST(KeltoCheckbox, AFullClickableRowReadInTheWidgetsLanguage) {
    KeltoCheckbox checkbox;
    checkbox.resize(checkbox.sizeHint());
    checkbox.show();
    EXPECT_GE(checkbox.height(), 24);
    QTest::mouseClick(&checkbox, Qt::LeftButton, {}, QPoint(checkbox.width() - 1, 0));
    EXPECT_TRUE(checkbox.isChecked());
    QTest::mouseClick(&checkbox, Qt::LeftButton, {}, QPoint(0, checkbox.height() - 1));
    EXPECT_FALSE(checkbox.isChecked());
    KeltoCheckbox labelled(QStringLiteral("Notify"));
    labelled.resize(labelled.sizeHint());
    labelled.show();
    QTest::mouseClick(&labelled, Qt::LeftButton, {}, QPoint(18, 1));
    EXPECT_TRUE(labelled.isChecked());

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&labelled);
    EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Notify"));
    EXPECT_TRUE(accessible->state().checked);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("On"));
    labelled.setLocale(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("Bật"));
    labelled.setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    labelled.setChecked(false);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("Off"));
}

TEST(KeltoTextFieldStyle, TheFocusRingLiesOutsideAFieldThatStays26High) {
    Placed<QLineEdit> field;
    KeltoTextFieldStyle::apply(*field.control);
    field.control->resize(160, field.control->sizeHint().height());
    EXPECT_EQ(field.control->height(), 26);
    const QRect frame = field.control->geometry();
    const QPointF band(-1.5, 13);  // half way through the 3-point ring
    EXPECT_EQ(field.pixel(band).alpha(), 0);
    EXPECT_EQ(field.pixel(QPointF(80, 0.5)), FenraTheme::textTertiary().light.color());
    EXPECT_EQ(field.pixel(QPointF(80, 13)), FenraTheme::surface().light.color());
    field.window.show();
    QApplication::setActiveWindow(&field.window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&field.window));
    field.control->setFocus();
    ASSERT_TRUE(field.control->hasFocus());
    const QColor ring = field.pixel(band);
    EXPECT_NEAR(ring.alphaF(), 0.25, 0.01);
    EXPECT_TRUE(near(ring, FenraTheme::tint().light.color()));
    EXPECT_EQ(field.pixel(QPointF(-4.5, 13)).alpha(), 0);  // nothing beyond 3 points
    EXPECT_EQ(field.control->geometry(), frame);
    EXPECT_EQ(field.pixel(QPointF(80, 0.5)), FenraTheme::tint().light.color()) << "the border takes the tint";
}

}  // namespace
}  // namespace kelto
