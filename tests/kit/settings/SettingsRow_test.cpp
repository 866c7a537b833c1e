#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraSettings/SettingsPane.h"
#include "FenraSettings/SettingsRow.h"
#include "FenraSettings/SettingsSearchQuery.h"
#include "tests/support/widgets/QtPrinting.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// A row under a widget that provides the query, as the shell does.
class SettingsRowTest : public testing::Test {
protected:
    SettingsRowTest() {
        SettingsSearchQuery::provide(provider, query);
        new QVBoxLayout(&provider);
        row = addRow(QStringLiteral("Open at login"), QStringLiteral("Starts syncing when you log in"));
        provider.show();
    }
    ~SettingsRowTest() override { FenraPreferences::shared().setReduceMotion(false); }

    SettingsRow* addRow(const QString& title, const std::optional<QString>& subtitle) {
        auto* added = new SettingsRow(title, subtitle, [this] {
            ++accessoriesBuilt;
            return new QCheckBox;
        });
        provider.layout()->addWidget(added);
        return added;
    }

    QTimer& hold() const { return *row->findChild<QTimer*>(); }
    QVariantAnimation& fade() const { return *row->findChild<QVariantAnimation*>(); }
    // The hold ends now, as its timer would.
    void endHold() const {
        hold().stop();
        QMetaObject::invokeMethod(&hold(), "timeout");
    }

    Binding<QString> query;
    QWidget provider;
    int accessoriesBuilt = 0;
    SettingsRow* row;
};

TEST_F(SettingsRowTest, LitAtOnceThenFadesFromOneAndAHalfSeconds) {
    QSignalSpy switched(row, &SettingsRow::highlightedChanged);
    QElapsedTimer clock;
    clock.start();
    query.set(QStringLiteral("LOGIN"));
    EXPECT_TRUE(row->highlighted());
    EXPECT_DOUBLE_EQ(row->highlightOpacity(), SettingsRow::litOpacity);
    EXPECT_EQ(hold().timerType(), Qt::PreciseTimer);

    ASSERT_TRUE(switched.wait(3000));
    EXPECT_GE(clock.elapsed(), 1490);
    ASSERT_EQ(switched.count(), 2);
    EXPECT_FALSE(row->highlighted());
    // Eased out over 0.2 s, from the lit opacity.
    ASSERT_EQ(fade().state(), QAbstractAnimation::Running);
    EXPECT_EQ(fade().duration(), 200);
    fade().setCurrentTime(100);
    EXPECT_GT(row->highlightOpacity(), 0);
    EXPECT_LT(row->highlightOpacity(), SettingsRow::litOpacity / 2);
    fade().setCurrentTime(200);
    EXPECT_EQ(row->highlightOpacity(), 0);
    EXPECT_EQ(accessoriesBuilt, 1);
}

TEST_F(SettingsRowTest, UnderReduceMotionTheLightGoesAtOnce) {
    FenraPreferences::shared().setReduceMotion(true);
    query.set(QStringLiteral("login"));
    ASSERT_TRUE(row->highlighted());
    endHold();
    EXPECT_FALSE(row->highlighted());
    EXPECT_EQ(row->highlightOpacity(), 0);
    EXPECT_NE(fade().state(), QAbstractAnimation::Running);
}

TEST_F(SettingsRowTest, AMatchingKeystrokeRestartsTheHoldAndAMissEndsIt) {
    query.set(QStringLiteral("log"));
    QTRY_VERIFY(hold().remainingTime() < 1400);
    query.set(QStringLiteral("logi"));
    EXPECT_TRUE(row->highlighted());
    EXPECT_GT(hold().remainingTime(), 1450);

    // A miss during the fade ends it too.
    endHold();
    ASSERT_EQ(fade().state(), QAbstractAnimation::Running);
    query.set(QStringLiteral("login"));
    EXPECT_EQ(fade().state(), QAbstractAnimation::Stopped);
    EXPECT_DOUBLE_EQ(row->highlightOpacity(), SettingsRow::litOpacity);

    query.set(QStringLiteral("loginx"));
    EXPECT_FALSE(row->highlighted());
    EXPECT_EQ(row->highlightOpacity(), 0);
    EXPECT_FALSE(hold().isActive());
    query.set(QStringLiteral(" \t\n"));
    EXPECT_FALSE(row->highlighted());
}

TEST_F(SettingsRowTest, OnlyTheTitleOfARowUnderAProviderIsMatched) {
    query.set(QStringLiteral("syncing"));
    EXPECT_FALSE(row->highlighted());

    // Without a provider above it a row reads "" and never lights.
    QWidget elsewhere;
    auto* lone = new SettingsRow(QStringLiteral("Syncing"), std::nullopt, [] { return nullptr; }, &elsewhere);
    elsewhere.show();
    EXPECT_EQ(SettingsSearchQuery::value(*lone), QString());
    EXPECT_FALSE(lone->highlighted());
    // No subtitle: the title alone.
    EXPECT_EQ(lone->findChildren<QLabel*>().size(), 1);
    EXPECT_EQ(row->findChildren<QLabel*>().size(), 2);
    EXPECT_EQ(row->accessory()->accessibleName(), QStringLiteral("Open at login"));
}

TEST_F(SettingsRowTest, ARowShownUnderAMatchLightsAtOnceAndAHiddenOneWaits) {
    query.set(QStringLiteral("archive"));
    SettingsRow* later = addRow(QStringLiteral("Archive replaced files"), std::nullopt);
    later->hide();
    later->show();
    EXPECT_TRUE(later->highlighted());

    later->hide();
    query.set(QStringLiteral("keep"));
    EXPECT_TRUE(later->highlighted());  // not following while hidden
    later->show();
    EXPECT_FALSE(later->highlighted());
}

TEST(SettingsPane, ContentIsBuiltAtEveryCallAndNeverBefore) {
    int built = 0;
    const SettingsPane pane(QStringLiteral("general"), QStringLiteral("General"), FenraIcon::folder, TileTint::sky,
                            SettingsGroup{QStringLiteral("main"), std::nullopt}, {}, [&built] {
                                ++built;
                                return std::make_unique<QLabel>(QStringLiteral("General"));
                            });
    EXPECT_EQ(built, 0);
    const std::unique_ptr<QWidget> first = pane.content();
    const std::unique_ptr<QWidget> second = pane.content();
    EXPECT_EQ(built, 2);
    EXPECT_NE(first.get(), second.get());
}

}  // namespace
}  // namespace kelto
