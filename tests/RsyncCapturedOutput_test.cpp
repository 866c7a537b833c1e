// Output captured from the real rsync (data/rsync/capture.sh), parsed whole and byte by byte.

#include "SyncEngine/RsyncOutputParser.h"
#include "tests/support/RsyncLines.h"

#include <gtest/gtest.h>

using namespace kelto;
using kelto::test::RsyncLines;

namespace {

constexpr std::int64_t kTime = 1700000000;  // every captured entry's mtime

std::vector<RsyncEvent> parse(RsyncOutputParser::Mode mode, std::string_view stream, std::size_t chunk) {
    RsyncOutputParser parser(mode);
    std::vector<RsyncEvent> events;
    for (std::size_t at = 0; at < stream.size(); at += chunk)
        for (auto& e : parser.feed(stream.substr(at, chunk))) events.push_back(std::move(e));
    for (auto& e : parser.finish()) events.push_back(std::move(e));
    return events;
}

template <class T>
std::vector<T> only(const std::vector<RsyncEvent>& events, const T* (RsyncEvent::*as)() const) {
    std::vector<T> out;
    for (const auto& e : events)
        if (auto* p = (e.*as)()) out.push_back(*p);
    return out;
}

std::vector<std::string> diagnostics(const std::vector<RsyncEvent>& events) {
    return only<std::string>(events, &RsyncEvent::asDiagnostic);
}

}  // namespace

TEST(RsyncCapturedOutput, Listing) {
    const std::string stream = RsyncLines::captured("listing.txt");
    const auto events = parse(RsyncOutputParser::Mode::listOnly, stream, stream.size());
    const auto entries = only<ListEntry>(events, &RsyncEvent::asListEntry);
    const std::vector<ListEntry> expected{
        {EntryKind::file, 2, kTime, "  lead"},
        {EntryKind::file, 2, kTime, "a -> b"},
        {EntryKind::file, 2, kTime, "back\\#101slash"},
        {EntryKind::file, 1, kTime, "bad\xFF\xFEname"},
        {EntryKind::file, 3000000, kTime, "big.bin"},
        {EntryKind::file, 1, kTime, "caf\xC3\xA9"},
        {EntryKind::other, 0, kTime, "fifo"},
        {EntryKind::symlink, 11, kTime, "link -> odd"},
        {EntryKind::symlink, 4, kTime, "lnk2"},
        {EntryKind::file, 3, kTime, "plain.txt"},
        {EntryKind::file, 8, kTime, "tab\there"},
        {EntryKind::directory, 4096, kTime, "dir one"},
    };
    EXPECT_EQ(entries, expected);
    // The progress lines a listing also prints are diagnostics, never entries.
    for (const auto& d : diagnostics(events)) EXPECT_NE(d.find("to-chk="), std::string::npos) << d;
    for (std::size_t chunk : {1u, 7u, 4096u})
        EXPECT_EQ(only<ListEntry>(parse(RsyncOutputParser::Mode::listOnly, stream, chunk), &RsyncEvent::asListEntry),
                  expected)
            << chunk;
}

TEST(RsyncCapturedOutput, DryRunMirror) {
    const std::string stream = RsyncLines::captured("dry-run-mirror.txt");
    const auto events = parse(RsyncOutputParser::Mode::transfer, stream, stream.size());
    const std::vector<ItemizedChange> expected{
        {".d         ", 4096, "./"},
        {">f+++++++++", 2, "  lead"},
        {">f+++++++++", 2, "a -> b"},
        {">f+++++++++", 2, "back\\#101slash"},
        {">f+++++++++", 1, "bad\xFF\xFEname"},
        {">f+++++++++", 3000000, "big.bin"},
        {">f+++++++++", 1, "caf\xC3\xA9"},
        {"cL+++++++++", 11, "link -> odd"},
        {"cL+++++++++", 4, "lnk2"},
        {">f.s.......", 3, "plain.txt"},
        {">f+++++++++", 8, "tab\there"},
        {"cd+++++++++", 4096, "dir one/"},
        {"*deleting  ", 0, "old dir/gone.txt"},
        {"*deleting  ", 0, "old dir/"},
        {"*deleting  ", 0, "x\xFFy"},
    };
    EXPECT_EQ(only<ItemizedChange>(events, &RsyncEvent::asItem), expected);
    EXPECT_EQ(diagnostics(events), std::vector<std::string>{"skipping non-regular file \"fifo\""});
    const auto progress = only<RsyncProgressSample>(events, &RsyncEvent::asProgress);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[0], (RsyncProgressSample{3000019, 99, 2.79 * (1 << 30), 0}));
    for (std::size_t chunk : {1u, 3u, 64u})
        EXPECT_EQ(only<ItemizedChange>(parse(RsyncOutputParser::Mode::transfer, stream, chunk), &RsyncEvent::asItem),
                  expected)
            << chunk;
}

TEST(RsyncCapturedOutput, TransferProgress) {
    const std::string stream = RsyncLines::captured("transfer-progress.txt");
    const auto events = parse(RsyncOutputParser::Mode::transfer, stream, 5);
    EXPECT_TRUE(diagnostics(events).empty());
    const std::vector<ItemizedChange> expected{{">f+++++++++", 3000000, "big.bin"}};
    EXPECT_EQ(only<ItemizedChange>(events, &RsyncEvent::asItem), expected);
    const auto progress = only<RsyncProgressSample>(events, &RsyncEvent::asProgress);
    ASSERT_GE(progress.size(), 4u);
    EXPECT_EQ(progress[0], (RsyncProgressSample{32768, 1, 0.0, std::nullopt}));
    EXPECT_EQ(progress[1], (RsyncProgressSample{1081344, 36, 1000.98 * 1024, std::nullopt}));
    EXPECT_EQ(progress[3], (RsyncProgressSample{3000000, 100, 1.01 * (1 << 20), 0}));
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i].bytes, progress[i - 1].bytes);
}
