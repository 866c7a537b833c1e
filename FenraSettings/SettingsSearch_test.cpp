#include "FenraCore/FenraIcon.h"
#include "FenraSettings/SettingsGroup.h"
#include "FenraSettings/SettingsSearch.h"
#include "tests/support/widgets/QtPrinting.h"
#include <gtest/gtest.h>

using namespace kelto;

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

SettingsPane pane(const char* id, const char* title, QStringList terms = {}) {
    return SettingsPane(QString::fromUtf8(id), QString::fromUtf8(title), FenraIcon::folder, TileTint::cobalt,
                        SettingsGroup{QStringLiteral("main"), std::nullopt}, std::move(terms),
                        []() -> QWidget* { return nullptr; });
}

QStringList idsOf(const std::vector<SettingsPane>& panes) {
    QStringList ids;
    for (const SettingsPane& p : panes) ids.append(p.id);
    return ids;
}

TEST(SettingsSearch, IgnoresCaseAndAccentsInEveryLocaleAndTakesTheQueryAsOneTrimmedPhrase) {
    for (const char* query : {"general", "GEN", "éné"}) EXPECT_TRUE(SettingsSearch::matches(u("Général"), u(query))) << query;
    EXPECT_TRUE(SettingsSearch::matches(u("Đồng bộ"), u("dong bo")));
    EXPECT_TRUE(SettingsSearch::matches(u("dong"), u("Đ")));
    EXPECT_EQ(SettingsSearch::fold(u("Ǆ Ñ İ")), u("ǆ n i"));
    // Hangul stays whole: a lone leading consonant is no match.
    EXPECT_FALSE(SettingsSearch::matches(u("가"), u("ᄀ")));
    EXPECT_TRUE(SettingsSearch::matches(u("Open at login"), u("  login \n")));
    EXPECT_FALSE(SettingsSearch::matches(u("Open at login"), u("open login")));
    EXPECT_TRUE(SettingsSearch::matches(u("Open at login"), u("at lo")));
    EXPECT_TRUE(SettingsSearch::matches(u("  Archive  "), u("archive")));
    for (const char* blank : {"", " ", " \t\n\r", "\u00a0\u2028"}) {
        EXPECT_FALSE(SettingsSearch::matches(u("Open at login"), u(blank))) << blank;
        EXPECT_FALSE(SettingsSearch::matches(u(" "), u(blank))) << blank;
    }
    // The filter keeps the order and finds by title or term.
    const std::vector<SettingsPane> panes{
        pane("general", "Général", {u("login"), u("startup")}),
        pane("sync", "Sync", {u("schedule"), u("general")}),
        pane("archive", "Archive"),
    };
    EXPECT_EQ(idsOf(SettingsSearch::filter(panes, u(" \t"))), QStringList({"general", "sync", "archive"}));
    EXPECT_EQ(idsOf(SettingsSearch::filter(panes, u("general"))), QStringList({"general", "sync"}));
    EXPECT_EQ(idsOf(SettingsSearch::filter(panes, u(" sched "))), QStringList({"sync"}));
    EXPECT_EQ(idsOf(SettingsSearch::filter(panes, u("chi"))), QStringList({"archive"}));
    EXPECT_TRUE(SettingsSearch::filter(panes, u("nothing here")).empty());
}

}  // namespace
