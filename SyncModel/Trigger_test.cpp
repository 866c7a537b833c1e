#include "SyncModel/Trigger.h"

#include <gtest/gtest.h>
#include <limits>
#include <tuple>

using namespace kelto;

namespace {

Trigger read(std::string_view json) { return JsonText::decode<Trigger>(json); }
std::string write(const Trigger& t) { return JsonText::encode(t); }

TEST(IntervalRule, AcceptsFifteenMinutesToOneYear) {
    using enum IntervalUnit;
    const auto below = ValidationIssue::intervalBelowMinimum;
    const auto tooLong = ValidationIssue::intervalTooLong;
    const std::optional<ValidationIssue> fine;
    for (const auto& [value, unit, issue] : std::initializer_list<std::tuple<std::int64_t, IntervalUnit, std::optional<ValidationIssue>>>{
             {14, minutes, below}, {15, minutes, fine}, {525'600, minutes, fine}, {525'601, minutes, tooLong},
             {0, hours, below}, {1, hours, fine}, {8'760, hours, fine}, {8'761, hours, tooLong},
             {0, days, below}, {365, days, fine}, {366, days, tooLong}})
        EXPECT_EQ(Trigger::intervalIssue(value, unit), issue) << value << " " << enumName(unit);
    for (IntervalUnit unit : IntervalUnits::allCases) {
        EXPECT_EQ(Trigger::intervalIssue(-1, unit), below);
        EXPECT_EQ(Trigger::intervalIssue(std::numeric_limits<std::int64_t>::min(), unit), below);
        EXPECT_EQ(Trigger::intervalIssue(std::numeric_limits<std::int64_t>::max(), unit), tooLong);  // no overflow
    }
}

TEST(TriggerJson, WritesEachCaseInItsOwnFormAndReadsItBack) {
    EXPECT_EQ(write(Trigger::onConnect(ConnectAction::ask)), R"({"type":"onConnect","action":"ask"})");
    EXPECT_EQ(write(Trigger::every(2, IntervalUnit::hours)), R"({"type":"every","value":2,"unit":"hours"})");
    EXPECT_EQ(write(Trigger::daily({9, 5})), R"({"type":"daily","at":{"hour":9,"minute":5}})");
    EXPECT_EQ(write(Trigger::weekly({6, 2, 4}, {18, 30})),
              R"({"type":"weekly","weekdays":[2,4,6],"at":{"hour":18,"minute":30}})");
    EXPECT_EQ(write(Trigger::weekly({}, {0, 0})), R"({"type":"weekly","weekdays":[],"at":{"hour":0,"minute":0}})");
    for (const Trigger& t : {Trigger::onConnect(ConnectAction::run), Trigger::every(3, IntervalUnit::days),
                             Trigger::daily({23, 59}), Trigger::weekly({1, 7}, {6, 0}), Trigger::weekly({}, {12, 0})})
        EXPECT_EQ(read(write(t)), t) << write(t);
    EXPECT_EQ(read(R"({"at":{"minute":30,"hour":7},"weekdays":[7,1],"type":"weekly"})"),
              Trigger::weekly({1, 7}, {7, 30}));
    EXPECT_EQ(read(R"({"unit":"days","value":2,"type":"every"})"), Trigger::every(2, IntervalUnit::days));
}

// Legacy minutes read and are written in the current form; foreign keys are
// ignored, ranges left unchecked and unknown words rejected.
TEST(TriggerJson, ReadsLegacyMinutesIgnoresForeignKeysChecksNoRangesAndRejectsUnknownWords) {
    const Trigger legacy = read(R"({"type":"every","minutes":30})");
    EXPECT_EQ(legacy, Trigger::every(30, IntervalUnit::minutes));
    EXPECT_EQ(write(legacy), R"({"type":"every","value":30,"unit":"minutes"})");
    EXPECT_EQ(read(R"({"type":"every","value":2,"unit":"hours","minutes":30})"),
              Trigger::every(2, IntervalUnit::hours));
    // Half of the current form is not taken for the legacy form.
    EXPECT_THROW(read(R"({"type":"every","unit":"hours","minutes":30})"), DecodingError);
    EXPECT_THROW(read(R"({"type":"every","value":2,"minutes":30})"), DecodingError);
    EXPECT_THROW(read(R"({"type":"every"})"), DecodingError);
    EXPECT_EQ(read(R"({"type":"daily","action":"run","minutes":5,"at":{"hour":8,"minute":0}})"),
              Trigger::daily({8, 0}));
    EXPECT_EQ(read(R"({"type":"weekly","weekdays":[9],"at":{"hour":25,"minute":0}})"), Trigger::weekly({9}, {25, 0}));
    EXPECT_EQ(read(R"({"type":"every","value":1,"unit":"minutes"})"), Trigger::every(1, IntervalUnit::minutes));
    for (const char* bad : {R"({"type":"hourly"})", R"({"type":"OnConnect","action":"run"})",
                            R"({"type":"onConnect","action":"later"})", R"({"type":"onConnect"})",
                            R"({"type":"every","value":2,"unit":"weeks"})", R"({"type":"daily","at":{"hour":8}})",
                            R"({"type":"weekly","at":{"hour":8,"minute":0}})", R"({"action":"run"})"})
        EXPECT_THROW(read(bad), DecodingError) << bad;
}

TEST(TriggerEquality, ComparesCaseAndPayloadWithWeekdaysAsASet) {
    EXPECT_EQ(read(R"({"type":"weekly","weekdays":[4,2,2],"at":{"hour":9,"minute":0}})"),
              read(R"({"type":"weekly","weekdays":[2,4],"at":{"hour":9,"minute":0}})"));
    EXPECT_NE(Trigger::weekly({2, 4}, {9, 0}), Trigger::weekly({2, 4}, {9, 1}));
    EXPECT_NE(Trigger::weekly({2, 4}, {9, 0}), Trigger::weekly({2, 4, 6}, {9, 0}));
    EXPECT_NE(Trigger::every(60, IntervalUnit::minutes), Trigger::every(1, IntervalUnit::hours));
    EXPECT_NE(Trigger::onConnect(ConnectAction::run), Trigger::onConnect(ConnectAction::ask));
    EXPECT_NE(Trigger::daily({9, 0}), Trigger::weekly({1, 2, 3, 4, 5, 6, 7}, {9, 0}));
}

}  // namespace
