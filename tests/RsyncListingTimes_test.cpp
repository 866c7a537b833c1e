// Listing times are the files' real instants whatever the time zone (TZ=UTC0, parsed as UTC).

#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "tests/RealRsync.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <map>

using namespace kelto;
using namespace kelto::testing;
namespace fs = std::filesystem;

namespace {

// Sets this process's TZ for the test's lifetime.
struct ZoneScope {
    std::optional<std::string> saved;
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (saved) setenv("TZ", saved->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
};

// 01:30 on 2026-11-01, which happens twice in New York: EDT, then EST.
std::time_t halfPastOne(bool daylightSaving) {
    std::tm tm{};
    tm.tm_year = 126, tm.tm_mon = 10, tm.tm_mday = 1, tm.tm_hour = 1, tm.tm_min = 30;
    tm.tm_isdst = daylightSaving;
    return std::mktime(&tm);
}

void createWithTime(const fs::path& file, std::time_t t) {
    std::ofstream(file) << "x";
    const timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

std::map<std::string, ListEntry> list(const fs::path& folder, std::map<std::string, std::string> env) {
    RsyncInvocation i;
    i.operation = RsyncOperation::listOnly();
    i.source = folder;
    VolumeIdentity ext4;
    ext4.fileSystem = "ext4";
    i.traits = FileSystemTraits::forVolume(ext4);
    const auto run = runRealRsync(RsyncArguments::build(i), std::move(env));
    EXPECT_EQ(run.code, 0) << run.err;
    RsyncOutputParser parser(RsyncOutputParser::Mode::listOnly);
    std::map<std::string, ListEntry> entries;
    auto keep = [&](RsyncEvent&& e) {
        if (auto* l = e.asListEntry()) entries[l->path] = *l;
    };
    parser.feed(run.out, keep);
    parser.finish(keep);
    return entries;
}

}  // namespace

TEST(RsyncListingTimes, RepeatedDaylightSavingHourReadsTheRealInstant) {
    TemporaryFolder tmp;
    std::time_t firstPass, secondPass;
    {
        ZoneScope zone("America/New_York");
        firstPass = halfPastOne(true);
        secondPass = halfPastOne(false);
        createWithTime(tmp.path() / "edt", firstPass);
        createWithTime(tmp.path() / "est", secondPass);
    }
    // Whatever zone the app itself runs in, each entry has the file's own time.
    for (const char* appZone : {"America/New_York", "Asia/Kolkata", "UTC0"}) {
        ZoneScope zone(appZone);
        const auto entries = list(tmp.path(), {{"LC_ALL", "C"}, {"TZ", "UTC0"}});
        ASSERT_TRUE(entries.contains("edt") && entries.contains("est")) << appZone;
        EXPECT_EQ(std::tuple(entries.at("edt").mtime, entries.at("est").mtime), std::tuple(firstPass, secondPass))
            << appZone;
    }
}

// rsync pads or cuts years outside four digits: tmpfs keeps such times.
TEST(RsyncListingTimes, YearsOutsideFourDigitsReadExactlyOrAsUnknown) {
    std::string whyNot;
    const auto tmpfs = test::TmpfsFolder::make(whyNot);
    if (!tmpfs) GTEST_SKIP() << whyNot;
    const std::map<std::string, std::time_t> whole{
        {"y999", -30'610'224'001}, {"y1", -62'135'596'800}, {"y0", -62'167'219'200},
        {"yminus1", -62'198'755'200}, {"yminus978", -93'000'000'000}, {"y9999", 253'402'300'799}};
    const std::map<std::string, std::time_t> cut{
        {"y10000", 253'402'300'800}, {"y14645", 400'000'000'000}, {"yminus1000", -93'700'000'000},
        {"ylast", INT64_MAX}};  // no broken-down time at all
    for (const auto& [name, t] : whole) createWithTime(tmpfs->path() / name, t);
    for (const auto& [name, t] : cut) createWithTime(tmpfs->path() / name, t);
    const auto entries = list(tmpfs->path(), {{"LC_ALL", "C"}, {"TZ", "UTC0"}});
    for (const auto& [name, t] : whole) {
        ASSERT_TRUE(entries.contains(name)) << name;
        EXPECT_EQ(std::tuple(entries.at(name).mtime, entries.at(name).timeKnown), std::tuple(t, true)) << name;
    }
    for (const auto& [name, t] : cut) {
        ASSERT_TRUE(entries.contains(name)) << name;
        EXPECT_EQ(std::tuple(entries.at(name).size, entries.at(name).timeKnown), std::tuple(1, false))
            << name;
    }
}
