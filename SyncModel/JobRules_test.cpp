#include "SyncModel/JobPresentation.h"
#include "SyncModel/JobValidator.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <tuple>

using namespace kelto;

namespace {

namespace fs = std::filesystem;
using Issues = std::vector<ValidationIssue>;
using Warnings = std::vector<ValidationWarning>;

std::optional<std::string> keepPath(const std::string&) { return std::nullopt; }

struct JobValidatorTest : ::testing::Test {
    test::TemporaryFolder temp;
    std::string home = (temp / "home").string();
    std::optional<std::string> savedHome;
    void SetUp() override {
        fs::create_directory(home);
        if (const char* h = std::getenv("HOME")) savedHome = h;
        ::setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override {
        if (savedHome) ::setenv("HOME", savedHome->c_str(), 1);
        else ::unsetenv("HOME");
    }
    static SyncJob job(std::string source, std::string destination, SyncMode mode = SyncMode::copy) {
        SyncJob j = SyncJob::newJob("Job");
        j.source.path = std::move(source);
        j.destination.path = std::move(destination);
        j.mode = mode;
        return j;
    }
    static ValidationReport check(const SyncJob& j, const JobValidator::Resolve& resolve = keepPath) {
        return JobValidator::validate(j, resolve);
    }
};

TEST_F(JobValidatorTest, NameMissingSameAndNestedPathsVolumeFlagsAndRetention) {
    SyncJob j = job("", "");
    j.name = " \t\n\u00a0";
    EXPECT_EQ(check(j).errors, (Issues{ValidationIssue::emptyName, ValidationIssue::missingSource,
                                       ValidationIssue::missingDestination}));
    j = job(" ", "/dst");
    j.name = "  Photos  ";
    EXPECT_TRUE(check(j).errors.empty());  // a path of blanks is not missing

    struct Case {
        std::string source, destination;
        Issues expected;
    };
    const Issues same{ValidationIssue::samePath}, nested{ValidationIssue::nested}, none{};
    // A small folder that exists: the source is walked for library bundles.
    const std::string tmp = temp.path().lexically_normal().string();
    for (const Case& c : std::vector<Case>{
             {"/a/b", "/a/bc", none},          {"/a/b", "/a/b/c", nested},        {"/a/b/c", "/a/b", nested},
             {"/a/b/", "/a/b", same},           {"/a//./b", "/a/x/../b", same},    {"/nowhere/a", "/", nested},
             {"/nowhere", "/..", nested},       {"~/x", home + "/x", same},        {"~", home, same},
             {"/a/caf\u00e9", "/a/cafe\u0301", same}, {"/A/b", "/a/b", none},        {"/private" + tmp, tmp, same},
             {"/nowhere/a/../../nowhere/a", "/nowhere/a", same},
             {"/private/no-such-kelto-folder", "/no-such-kelto-folder", none},
         }) {
        SCOPED_TRACE(c.source + " | " + c.destination);
        EXPECT_EQ(check(job(c.source, c.destination)).errors, c.expected);
    }
    // Volume flags and retention.
    j = job("/a", "/b", SyncMode::twoWay);
    j.source.volume.isReadOnly = true;
    EXPECT_EQ(check(j).errors, Issues{ValidationIssue::twoWayReadOnly});
    j.mode = SyncMode::copy;
    EXPECT_TRUE(check(j).errors.empty());
    j.destination.volume.isReadOnly = true;
    EXPECT_EQ(check(j).errors, Issues{ValidationIssue::destinationReadOnly});
    j = job("/a", "/b");
    j.options.archiveEnabled = false;  // retention is checked all the same
    const Issues outOfRange{ValidationIssue::retentionOutOfRange};
    for (const auto& [days, issues] : std::vector<std::pair<std::optional<std::int64_t>, Issues>>{
             {std::nullopt, none}, {1, none}, {365, none}, {0, outOfRange}, {366, outOfRange}}) {
        j.options.archiveRetentionDays = days;
        EXPECT_EQ(check(j).errors, issues) << days.value_or(-1);
    }
}

TEST_F(JobValidatorTest, SpellingsOfOneFolderOnAVolumeThatIgnoresCaseAreOneFolder) {
    const auto volume = [](const char* uuid, const char* fileSystem, bool caseSensitive) {
        return VolumeIdentity{VolumeKind::removable, uuid, "E", fileSystem, false, caseSensitive, std::nullopt};
    };
    const VolumeIdentity exfat = volume("1234-ABCD", "exfat", false), other = volume("5678-EF01", "exfat", false);
    const VolumeIdentity ext4 = volume("1234-ABCD", "ext4", true);
    const auto errors = [&](const std::string& a, const std::string& b, const VolumeIdentity& volumeA,
                            const VolumeIdentity& volumeB) {
        SyncJob j = job(a, b);
        j.source.volume = volumeA;
        j.destination.volume = volumeB;
        return check(j).errors;
    };
    EXPECT_EQ(errors("/media/E/DATA", "/media/E/data", exfat, exfat), Issues{ValidationIssue::samePath});
    EXPECT_EQ(errors("/media/E/Data/sub", "/media/E/dATA", exfat, exfat), Issues{ValidationIssue::nested});
    EXPECT_EQ(errors("/media/E/\u039a\u039f\u03a3\u039c\u039f\u03a3", "/media/E/\u03ba\u03bf\u03c3\u03bc\u03bf\u03c2/x",
                     exfat, exfat),
              Issues{ValidationIssue::nested});
    EXPECT_EQ(errors("/media/E/DATA", "/media/E/data", ext4, ext4), Issues{});
    EXPECT_EQ(errors("/media/E/DATA", "/media/F/data", exfat, other), Issues{});
}

TEST_F(JobValidatorTest, CloudFoldersInternalVolumesUnderRemovableMountRootsAndLibraryBundles) {
    const std::string cloud = home + "/Library/CloudStorage";
    const Warnings none, inCloud{ValidationWarning::cloudFolder}, under{ValidationWarning::internalUnderVolumes};
    const Warnings bundle{ValidationWarning::libraryBundle};
    for (const auto& [source, destination, warnings] : std::vector<std::tuple<std::string, std::string, Warnings>>{
             {cloud, "/b", inCloud}, {"/b", "~/Library/CloudStorage/Drive/x", inCloud},
             {"~/Library/Mobile Documents/com~app/x", "/b", inCloud}, {cloud + "2", "/b", none},
             {home + "/Library", "/b", none}, {"/Volumes/Data/x", "/b", under}, {"/media/me/Disk/x", "/b", under},
             {"/run/media/me/Disk", "/b", under}, {"/b", "/media/me/Disk/x", under}, {"/Volumes", "/b", none},
             {"/media", "/b", none}, {"/mediax/a", "/b", none}, {"/run/media", "/b", none},
             {"/Pictures/Family.PhotosLibrary", "/b", bundle},
             {"/Pictures/Family.photoslibrary/originals", "/b", bundle}})
        EXPECT_EQ(check(job(source, destination)).warnings, warnings) << source << " | " << destination;
    EXPECT_EQ(check(job("/a", "/b"), [&](const std::string& p) { return p == "/b" ? cloud + "/x" : p; }).warnings,
              inCloud);
    SyncJob removable = job("/Volumes/Data/x", "/media/me/Disk/x");
    removable.source.volume.kind = VolumeKind::removable;
    removable.destination.volume.kind = VolumeKind::removable;
    EXPECT_TRUE(check(removable).warnings.empty());
    const fs::path source = temp / "source";
    fs::create_directories(source / "a" / "b" / "c" / "Edit.FCPBundle");
    EXPECT_EQ(check(job(source.string(), "/b")).warnings, bundle);
    EXPECT_TRUE(check(job("/b", source.string())).warnings.empty());  // the destination is not probed
    // Packages are not entered and links are not followed.
    const fs::path other = temp / "other";
    fs::create_directories(other / "Tool.app" / "Contents" / "Demo.fcpbundle");
    fs::create_directory_symlink(source / "a", other / "linked");
    temp.write("other/.hidden");
    EXPECT_TRUE(check(job(other.string(), "/b")).warnings.empty());
    temp.write("other/.hidden.photoslibrary");
    EXPECT_EQ(check(job(other.string(), "/b")).warnings, bundle);
}

TEST_F(JobValidatorTest, EveryProblemIsListedOnceInOrder) {
    SyncJob j = job("~/Library/CloudStorage/Lib.photoslibrary", "/Volumes/Data/link", SyncMode::twoWay);
    j.name = "\n";
    j.destination.volume.isReadOnly = true;
    j.destination.volume.caseSensitive = true;
    j.options.archiveRetentionDays = 0;
    j.triggers = {Trigger::every(5, IntervalUnit::minutes), Trigger::every(400, IntervalUnit::days),
                  Trigger::every(1, IntervalUnit::minutes)};
    // Resolving sees expanded paths; that it finds links is the model's test.
    std::vector<std::string> asked;
    const auto resolve = [&](const std::string& p) -> std::optional<std::string> {
        asked.push_back(p);
        if (p == "/Volumes/Data/link") return home + "/Library/CloudStorage/Lib.photoslibrary/Sub";
        return std::nullopt;
    };
    const ValidationReport report = check(j, resolve);
    EXPECT_EQ(asked, (std::vector<std::string>{home + "/Library/CloudStorage/Lib.photoslibrary",
                                                "/Volumes/Data/link"}));
    EXPECT_EQ(report.errors,
              (Issues{ValidationIssue::emptyName, ValidationIssue::nested, ValidationIssue::twoWayReadOnly,
                      ValidationIssue::retentionOutOfRange, ValidationIssue::intervalBelowMinimum,
                      ValidationIssue::intervalTooLong}));
    EXPECT_EQ(report.warnings,
              (Warnings{ValidationWarning::cloudFolder, ValidationWarning::caseSensitivityMismatch,
                        ValidationWarning::libraryBundle, ValidationWarning::internalUnderVolumes}));
}

const Trigger connectRun = Trigger::onConnect(ConnectAction::run);
const Trigger connectAsk = Trigger::onConnect(ConnectAction::ask);
const Trigger hourly = Trigger::every(1, IntervalUnit::hours);
const Trigger nineDaily = Trigger::daily({9, 0});
const Trigger monday = Trigger::weekly({2}, {9, 0});

SyncJob presetJob(std::vector<Trigger> triggers = {}) {
    SyncJob job = SyncJob::newJob("Documents");
    job.triggers = std::move(triggers);
    return job;
}

TEST(JobPresentation, SimpleTriggerListsAndEachOtherSettingCountAndSimplifiedResetsToThePresetButSimpleTriggers) {
    using T = std::vector<Trigger>;
    for (const T& simple : {T{}, T{connectRun}, T{hourly}, T{nineDaily}, T{monday}, T{connectRun, monday},
                            T{nineDaily, connectRun}, T{Trigger::every(1, IntervalUnit::minutes), connectRun}})
        EXPECT_TRUE(JobPresentation::hasSimpleTriggers(simple)) << JsonText::encode(simple);
    for (const T& advanced : {T{connectAsk}, T{connectAsk, hourly}, T{hourly, connectAsk}, T{connectRun, connectRun},
                              T{hourly, nineDaily}, T{connectRun, hourly, nineDaily}, T{hourly, connectRun, monday}})
        EXPECT_FALSE(JobPresentation::hasSimpleTriggers(advanced)) << JsonText::encode(advanced);
    for (const auto& [triggers, count] : std::vector<std::pair<T, int>>{
             {{}, 0}, {{nineDaily, connectRun}, 0}, {{connectAsk}, 2}, {{hourly, nineDaily}, 1},
             {{connectAsk, connectAsk, hourly}, 2}})
        EXPECT_EQ(JobPresentation::advancedSettingsCount(presetJob(triggers)), count) << JsonText::encode(triggers);
    auto countWith = [](auto edit) {
        SyncJob job = presetJob();
        edit(job);
        return JobPresentation::advancedSettingsCount(job);
    };
    EXPECT_EQ(countWith([](SyncJob& j) { j.options.archiveRetentionDays.reset(); }), 1);
    EXPECT_EQ(countWith([](SyncJob& j) { j.options.archiveRetentionDays = 31; }), 1);
    EXPECT_EQ(countWith([](SyncJob& j) { j.options.deleteGuardPercent = 21; }), 1);
    EXPECT_EQ(countWith([](SyncJob& j) { j.filters.patterns = {"a", "b", "c"}; }), 1);
    SyncJob job = presetJob();  // identity, folders, mode and the enabled flag never count
    job.name = "";
    job.mode = SyncMode::twoWay;
    job.isEnabled = false;
    job.source.path = "/Users/me/Documents";
    job.destination.path = "/Volumes/Backup/Music";
    EXPECT_EQ(JobPresentation::advancedSettingsCount(job), 0);
    job.options = JobOptions{false, std::nullopt, 10, 5, true, true};
    job.filters = FilterSet{false, {"*.log"}};
    job.triggers = {connectAsk, nineDaily};
    EXPECT_EQ(JobPresentation::advancedSettingsCount(job), 10);
    // Simplified, all that stays with simple triggers; the settings go back to the preset's.
    job.triggers = {connectRun, monday};
    SyncJob expected = job;
    expected.options = JobOptions::standard();
    expected.filters = FilterSet{true, {}};
    EXPECT_EQ(JobPresentation::simplified(job), expected);
    for (const auto& triggers : {T{connectAsk}, T{connectRun, hourly, monday}}) {
        job.triggers = triggers;
        EXPECT_TRUE(JobPresentation::simplified(job).triggers.empty());
    }
}

}  // namespace
