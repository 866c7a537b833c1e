#include "Kelto_Sync/PreviewSheet.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/views/status/StatusFixtures.h"
#include <QLayout>
#include <QToolButton>
#include <QTreeView>

namespace kelto {
namespace {

struct Counts {
    int toB = 0, toA = 0, onA = 0, onB = 0, skipped = 0, conflicts = 0;
    std::int64_t entriesA = 0, entriesB = 0;
};

// Copies and archives alternate between the sides, so each side's list keeps only its own, in order.
SyncPlan planOf(const Counts& counts) {
    SyncPlan plan;
    for (int i = 0; i < std::max(counts.toB, counts.toA); ++i) {
        if (i < counts.toB) plan.copies.push_back({"b/" + std::to_string(i), 10, Side::b});
        if (i < counts.toA) plan.copies.push_back({"a/" + std::to_string(i), 10, Side::a});
    }
    for (int i = 0; i < std::max(counts.onA, counts.onB); ++i) {
        if (i < counts.onB) plan.archives.push_back({"gone-b/" + std::to_string(i), Side::b});
        if (i < counts.onA) plan.archives.push_back({"gone-a/" + std::to_string(i), Side::a});
    }
    for (int i = 0; i < counts.skipped; ++i)
        plan.skipped.push_back({"big/" + std::to_string(i), i % 2 ? FileSkipReason::caseCollision
                                                                  : FileSkipReason::tooLargeForFAT});
    for (int i = 0; i < counts.conflicts; ++i) plan.conflicts.push_back("both/" + std::to_string(i));
    plan.entryCountA = counts.entriesA;
    plan.entryCountB = counts.entriesB;
    return plan;
}

class Sheet {
public:
    explicit Sheet(const SyncPlan& plan, bool review = true, std::optional<QString> reason = std::nullopt)
        : sheet(plan, std::move(reason), SyncStrings::application(),
                review ? std::function<void()>([this] { ++continued; }) : std::function<void()>(),
                [this] { ++cancelled; }, nullptr, &timers) {
        sheet.setLocale(english);
    }
    // On screen for as long as it takes to read it.
    void read() { QCoreApplication::processEvents(), timers.advance(PreviewSheet::readingSeconds); }
    QString text(const char* name) const { return textOf(sheet, name); }
    QPushButton* button(const char* name) const { return kelto::button(sheet, name); }
    QTreeView* details() const { return sheet.findChild<QTreeView*>(QStringLiteral("details")); }
    QToolButton* toggle() const { return sheet.findChild<QToolButton*>(QStringLiteral("detailsToggle")); }
    // A section's title and count, then its rows ("path" or "path | reason").
    QStringList section(int number) const {
        const QAbstractItemModel* model = details()->model();
        const QModelIndex header = model->index(number, 0);
        QStringList lines{header.data().toString() + QStringLiteral(" ") + model->index(number, 1).data().toString()};
        for (int row = 0; row < model->rowCount(header); ++row) {
            const QString reason = model->index(row, 1, header).data().toString();
            lines.append(model->index(row, 0, header).data().toString() +
                         (reason.isEmpty() ? QString() : QStringLiteral(" | ") + reason));
        }
        return lines;
    }
    int continued = 0, cancelled = 0;
    ManualClock clock;
    ManualExecutor timers{clock};
    PreviewSheet sheet;
};

// Shares of each side round halves away from zero.
TEST(PreviewSheet, EveryRowInPlanOrderWithLocaleCountsBesidePlainFiguresAndRoundedShares) {
    EXPECT_EQ(Sheet(planOf({.onA = 5, .onB = 1, .entriesA = 120, .entriesB = 3})).text("archivedFigure"),
              QStringLiteral("A: 5 (4%) \u00B7 B: 1 (33%)"));
    EXPECT_EQ(Sheet(planOf({.onA = 1, .entriesA = 8, .entriesB = 8})).text("archivedFigure"),
              "A: 1 (13%) \u00B7 B: 0 (0%)");
    EXPECT_EQ(Sheet(planOf({.onA = 3, .onB = 2, .entriesA = 2})).text("archivedFigure"), "A: 3 (150%) \u00B7 B: 2 (0%)");
    EXPECT_EQ(PreviewSheet::share(1, 200), 1);  // 0.5 %
    EXPECT_EQ(PreviewSheet::share(-1, 200), -1);
    Sheet sheet(planOf({.toB = 1234, .toA = 2, .onA = 1, .onB = 2, .skipped = 1234, .conflicts = 1,
                        .entriesA = 10, .entriesB = 10}),
                false);
    EXPECT_EQ(sheet.text("copiesFigure"), "1234 A\u2192B \u00B7 2 B\u2192A");
    EXPECT_EQ(sheet.text("skippedFigure"), "1,234");
    const QStringList toB = sheet.section(0);
    EXPECT_EQ(toB.size(), 1 + 1234);
    EXPECT_EQ(toB.front() + " " + toB.back(), "Copy A\u2192B 1,234 b/1233");
    EXPECT_EQ(sheet.section(1), (QStringList{"Copy B\u2192A 2", "a/0", "a/1"}));
    EXPECT_EQ(sheet.section(2), (QStringList{"Archive on A 1", "gone-a/0"}));
    EXPECT_EQ(sheet.section(3), (QStringList{"Archive on B 2", "gone-b/0", "gone-b/1"}));
    const QStringList skipped = sheet.section(4);
    EXPECT_EQ(skipped.size(), 1 + 1234);
    const SyncStrings strings = SyncStrings::application();
    EXPECT_EQ(skipped[1], "big/0 | " + strings.computed("fileSkip.", FileSkipReason::tooLargeForFAT, english));
    EXPECT_EQ(skipped[2], "big/1 | " + strings.computed("fileSkip.", FileSkipReason::caseCollision, english));
    EXPECT_EQ(sheet.section(5), (QStringList{"Conflicts 1", "both/0"}));
    sheet.sheet.setLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(sheet.section(4).front(), "Skipped 1.234");
}

// "Details" open and close inside the sheet, which keeps its size: the title at the top, the buttons at the bottom
// edge, the list filling the middle.
TEST(PreviewSheet, TitleReasonButtonsAndDetailsByActionAndReason) {
    for (const bool review : {true, false}) {
        for (const bool withReason : {true, false}) {
            SCOPED_TRACE(std::string(review ? "review" : "preview") + (withReason ? " with a reason" : ""));
            Sheet sheet(planOf({.toB = 2}), review,
                        withReason ? std::optional<QString>(QStringLiteral("40% of B would be archived")) : std::nullopt);
            sheet.sheet.show();
            EXPECT_EQ(sheet.text("reason"), withReason ? "40% of B would be archived" : "<none>");
            EXPECT_EQ(sheet.button("cancel") != nullptr && sheet.button("continue") != nullptr, review);
            EXPECT_EQ(sheet.button("close") != nullptr, !review);
            EXPECT_EQ(sheet.details()->isVisible(), review || withReason);
            // The user's toggle sticks, for that sheet only, in one look open or closed.
            const auto look = DrawnPanels::of(*sheet.toggle());
            sheet.toggle()->click();
            EXPECT_EQ(DrawnPanels::of(*sheet.toggle()), look);
            EXPECT_EQ(sheet.details()->isVisible(), !(review || withReason));
            EXPECT_EQ(sheet.sheet.detailsOverride(), !(review || withReason));
            if (!withReason) continue;
            SCOPED_TRACE("ItKeepsItsSizeWithTheDetailsListFillingItsMiddle");
            QApplication::processEvents();
            const QSize size = sheet.sheet.size();
            EXPECT_EQ(sheet.sheet.minimumSize(), sheet.sheet.maximumSize()) << "no resize handle along its bottom";
            const QMargins margins = sheet.sheet.layout()->contentsMargins();
            const int spacing = sheet.sheet.layout()->spacing();
            const auto top = [&](const QWidget* w) { return w->mapTo(&sheet.sheet, QPoint(0, 0)).y(); };
            const auto bottom = [&](const QWidget* w) { return top(w) + w->height(); };
            for (int pass = 0; pass < 2; ++pass) {
                sheet.toggle()->click();
                QApplication::processEvents();
                EXPECT_EQ(sheet.details()->isVisible(), pass == 0);
                EXPECT_EQ(sheet.sheet.size(), size) << "the list scrolls rather than the sheet growing";
                const auto* figures = child(sheet.sheet, "copiesFigure");
                const auto* list = child(sheet.sheet, "detailsList");
                const QPushButton* last = sheet.button(review ? "continue" : "close");
                EXPECT_LE(top(child(sheet.sheet, "title")), margins.top() + 2) << "the title at the top";
                EXPECT_GE(bottom(last), size.height() - margins.bottom() - 2) << "the buttons at the bottom";
                ASSERT_NE(list, nullptr);
                EXPECT_LE(top(list) - bottom(figures), spacing + 2) << "the list right under the counts";
                EXPECT_LE(top(last) - bottom(list), spacing + 2) << "and down to the buttons";
                EXPECT_EQ(sheet.toggle()->parentWidget(), list) << "the disclosure row heads the list";
            }
        }
    }
    EXPECT_EQ(Sheet(planOf({})).sheet.detailsOverride(), std::nullopt);
}

TEST(PreviewSheet, ReturnContinuesOnceReadAndEscapeCancelsOncePerPressWithoutClosing) {
    Sheet review(planOf({.toB = 2}));
    review.sheet.show();
    // Not yet read, it takes no Return, and reads afresh when its reason comes.
    QTest::keyClick(review.details(), Qt::Key_Return);
    EXPECT_EQ(review.continued, 0);
    review.read();
    review.sheet.setReason(QStringLiteral("Many files would be deleted."));
    QTest::keyClick(review.details(), Qt::Key_Return);
    EXPECT_EQ(review.continued, 0);
    review.read();
    QTest::keyClick(review.details(), Qt::Key_Return);
    EXPECT_EQ(std::pair(review.continued, review.cancelled), std::pair(1, 0));
    QTest::keyClick(review.details(), Qt::Key_Escape);
    EXPECT_EQ(std::pair(review.continued, review.cancelled), std::pair(1, 1));
    EXPECT_TRUE(review.sheet.isVisible());  // its owner closes it
    {
        // A press whose release went to another window holds Return down only as long as a held key would repeat: a
        // press well after it is a new one.
        SCOPED_TRACE("APressLongAfterOneWhoseReleaseWentElsewhereIsNew");
        for (const std::uint64_t at : {1000u, 1500u, 3000u}) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
            press.setTimestamp(at);
            QApplication::sendEvent(review.details(), &press);
        }
        EXPECT_EQ(review.continued, 3);  // the one at 1500 repeats the first
    }
    review.sheet.close();  // the owner dismissing it after an action is no cancel
    EXPECT_EQ(review.cancelled, 1);
    Sheet preview(planOf({.toB = 2}), false);
    preview.sheet.show();
    QTest::keyClick(&preview.sheet, Qt::Key_Return);
    EXPECT_EQ(preview.cancelled, 0);
    QTest::keyClick(&preview.sheet, Qt::Key_Escape);
    EXPECT_EQ(preview.cancelled, 1);
}

}  // namespace
}  // namespace kelto
