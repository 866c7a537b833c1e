#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/SpellingAlignment.h"

#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/VolumeIdentity.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <set>

using namespace kelto;
using kelto::test::namesIn;
namespace fs = std::filesystem;
using Skips = std::vector<SkippedFile>;

namespace {

Skips evaluate(const std::vector<PreflightSkips::Candidate>& candidates, bool caseSensitive = false,
               std::optional<std::int64_t> maxFileSize = std::nullopt) {
    FileSystemTraits traits;
    traits.caseSensitive = caseSensitive;
    traits.maxFileSize = maxFileSize;
    return PreflightSkips::evaluate(candidates, traits);
}

SkippedFile collision(std::string path) { return {std::move(path), FileSkipReason::caseCollision}; }
SkippedFile tooLarge(std::string path) { return {std::move(path), FileSkipReason::tooLargeForFAT}; }
SkippedFile notAllowed(std::string path) { return {std::move(path), FileSkipReason::nameNotAllowed}; }
SkippedFile twin(std::string path) { return {std::move(path), FileSkipReason::normalisationTwin}; }

// A volume of the type with a disk of the type `below` at "card"; "unread": the mounts below unknown.
FileSystemTraits traitsOf(const char* type, const char* below = nullptr) {
    VolumeIdentity volume;
    volume.fileSystem = type;
    volume.caseSensitive = true;  // the table's word wins where it has one
    const FileSystemTraits traits = FileSystemTraits::forVolume(volume);
    if (!below) return traits;
    if (std::string_view(below) == "unread") return traits.withDisksBelow(std::nullopt);
    return traits.withDisksBelow(std::vector<FileSystemCapabilities::Mounted>{
        {"other", FileSystemCapabilities::forType("ext4")}, {"card", FileSystemCapabilities::forType(below)}});
}

const std::string nfdE = "e\xCC\x81", nfcE = "\xC3\xA9";
using Names = std::set<std::string>;

int alignErrno(std::string_view desired, std::string_view actual, const fs::path& root) {
    try {
        SpellingAlignment::align(desired, actual, root);
        return 0;
    } catch (const FileError& error) {
        return error.errorNumber();
    }
}

class SpellingAlignmentTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    fs::path root = folder.path();
};

}  // namespace

TEST(PreflightSkips, EverythingUnderEitherSpellingOfACollidingNameIsSkippedOnce) {
    EXPECT_TRUE(evaluate({{"Docs", 0}, {"docs", 0}}, true).empty());
    EXPECT_EQ(evaluate({{"Docs/", 0}, {"Docs/a.txt", 3}, {"other.txt", 1}, {"docs/b.txt", 4}}),
              (Skips{collision("Docs/"), collision("Docs/a.txt"), collision("docs/b.txt")}));
    // A repeated path is judged once.
    EXPECT_EQ(evaluate({{"a/b/Note", 1}, {"a/b/c", 1}, {"a/b/note/x", 1}, {"a/b/Note", 9}, {"a//b/note/x", 1}}),
              (Skips{collision("a/b/Note"), collision("a/b/note/x"), collision("a//b/note/x")}));
    EXPECT_EQ(PreflightSkips::evaluate({{"Docs", 1}, {"docs", 1}, {"card/Docs/a", 1}, {"card/docs/b", 1},
                                        {"card/x/NOTE", 1}, {"card/x/note", 1}, {".keltosync", 1}},
                                       traitsOf("ext4", "exfat")),
              (Skips{collision("card/Docs/a"), collision("card/docs/b"), collision("card/x/NOTE"),
                     collision("card/x/note")}));
    EXPECT_EQ(PreflightSkips::evaluate({{"Docs", 1}, {"docs", 1}, {"card/Docs", 1}, {"card/docs", 1}},
                                       traitsOf("exfat", "ext4")),
              (Skips{collision("Docs"), collision("docs")}));
    // On a volume that ignores case, ".keltosync" would be the reserved folder.
    SCOPED_TRACE("AnotherSpellingOfTheReservedFolderCollidesWithIt");
    EXPECT_EQ(evaluate({{".keltosync/", 0}, {".keltosync/x", 1}, {"keep", 1}, {"sub/.KELTOSYNC", 1}}),
              (Skips{collision(".keltosync/"), collision(".keltosync/x")}));
    EXPECT_TRUE(evaluate({{".keltosync/x", 1}}, true).empty());
}

TEST(PreflightSkips, NamesADiskCannotHoldAreSkippedWithAllBelowThem) {
    const std::string bad = "bad\xE9.txt";  // Latin-1, not UTF-8
    struct Case {
        const char* type;
        std::string path;
        bool held;
        const char* below = nullptr;
    };
    const std::vector<Case> cases{
        {"exfat", "Meeting: notes.txt", false}, {"fuseblk", "what?.txt", false}, {"vfat", "a*b", false},
        {"msdos", "x<y", false},                {"fat", "x>y", false},          {"fuse.exfat", "pipe|d", false},
        {"fuseblk.exfat", "say \"hi\"", false}, {"ntfs3", "back\\slash", false}, {"exfat", "tab\tname", false},
        {"exfat", "bell\x07", false},           {"vfat", "trail.", false},      {"exfat", "trail ", false},
        {"ntfs", "d:/inside.txt", false},       {"exfat", "ok/deep./x", false}, {"exfat", bad, false},
        {"ntfs3", bad, false},                  {"hfsplus", bad, false},        {"exfat", "over\xC0\xAF", false},
        {"ntfs3", "CON", false},                {"ntfs", "nul.txt", false},     {"ntfs3", "Com1.log", false},
        {"exfat", "CON", true},                 {"vfat", "aux.c", true},        {"ntfs3", "console", true},
        {"exfat", "caf\xC3\xA9 \xF0\x9F\x98\x80", true}, {"exfat", ".hidden", true}, {"vfat", " lead", true},
        {"exfat", "a.b c", true},               {"exfat", "del\x7F", true},    {"hfsplus", "a:b", true},
        {"ext4", "Meeting: notes.txt", true},   {"ext4", bad, true},            {"fuse.sshfs", "what?.txt", true},
        {"cifs", "what?.txt", true},            {"", "a:b", true},              {"fuse.newfs", bad, true},
        {"ext4", "card/Meeting: notes.txt", false, "fuseblk"}, {"ext4", "card/sub/what?.txt", false, "exfat"},
        {"ext4", "./card/" + bad, false, "fuse.exfat"},        {"tmpfs", "card/trail.", false, "vfat"},
        {"ext4", "card/CON", false, "ntfs3"},                  {"ext4", "Meeting: notes.txt", true, "exfat"},
        {"ext4", "cards/a:b", true, "exfat"},                  {"ext4", "Card/a:b", true, "exfat"},
        {"ext4", "other/a:b", true, "exfat"},                  {"vfat", "CARD/a:b", true, "ext4"},
        {"vfat", "CARD:/x", false, "ext4"},                    {"ext4", "ok/fine.txt", true, "unread"},
        {"ext4", "a:b", false, "unread"},                      {"ext4", "x/COM1", false, "unread"},
    };
    for (const Case& c : cases) {
        const Skips expected = c.held ? Skips{} : Skips{notAllowed(c.path)};
        EXPECT_EQ(PreflightSkips::evaluate({{c.path, 1}}, traitsOf(c.type, c.below)), expected)
            << c.type << " " << c.path << " " << (c.below ? c.below : "");
    }
    // A refused name is skipped as such, too large or colliding as it may also be.
    EXPECT_EQ(PreflightSkips::evaluate({{"Q: A/", 0}, {"Q: A/x", 5'000'000'000}, {"ok", 1}, {"q: a/z", 1}},
                                       traitsOf("vfat")),
              (Skips{notAllowed("Q: A/"), notAllowed("Q: A/x"), notAllowed("q: a/z")}));
}

TEST(PreflightSkips, NormalisationTwinsOfOneListingAreSkippedWithAllTheyHold) {
    const std::string composed = "caf\xC3\xA9", decomposed = "cafe\xCC\x81";
    const auto normalisationTwins = [](const std::vector<PreflightSkips::Candidate>& candidates,
                                       const FileSystemTraits& traits = traitsOf("exfat")) {
        return PreflightSkips::normalisationTwins(candidates, traits);
    };
    EXPECT_EQ(normalisationTwins({{composed, 1}, {decomposed, 1}, {"card/" + composed, 1}, {"card/" + decomposed, 1}},
                                 traitsOf("ext4", "exfat")),
              (Skips{twin("card/" + composed), twin("card/" + decomposed)}));
    EXPECT_TRUE(
        normalisationTwins({{composed, 1}, {"Caf\xC3\xA9", 1}, {composed, 2}, {"a", 1}}).empty());
    EXPECT_EQ(normalisationTwins({{decomposed, 1}, {"other", 1}, {composed, 1}, {decomposed, 2}}),
              (Skips{twin(decomposed), twin(composed)}));
    EXPECT_EQ(normalisationTwins(
                  {{"d/" + composed + "/x", 1}, {"d/" + decomposed + "/y", 1}, {"d/z", 1}, {"d/" + composed, 0}}),
              (Skips{twin("d/" + composed + "/x"), twin("d/" + decomposed + "/y"), twin("d/" + composed)}));
    // A singleton decomposition: the Kelvin sign normalises to the letter K.
    EXPECT_EQ(normalisationTwins({{"K.txt", 1}, {"\xE2\x84\xAA.txt", 1}}),
              (Skips{twin("K.txt"), twin("\xE2\x84\xAA.txt")}));
    SCOPED_TRACE("AccentsCompareByCanonicalEquivalenceAndTheFatLimitIsInclusiveAndBeatsACollision");
    EXPECT_TRUE(evaluate({{composed, 1}, {decomposed + "/x", 1}}).empty());
    EXPECT_EQ(evaluate({{composed, 9}, {decomposed, 9}}, false, 5), Skips{tooLarge(composed)});
    EXPECT_EQ(evaluate({{composed, 1}, {"CAF\xC3\x89", 1}}).size(), 2u);
    const std::int64_t fat = 4294967295;
    EXPECT_EQ(evaluate({{"ok.bin", fat}, {"Big.bin", fat + 1}, {"big.bin", 1}, {"dir/", 0}}, false, fat),
              (Skips{tooLarge("Big.bin"), collision("big.bin")}));
    EXPECT_EQ(PreflightSkips::evaluate({{"big.bin", fat + 1}, {"card/ok.bin", fat}, {"card/sub/big.bin", fat + 1}},
                                       traitsOf("ext4", "vfat")),
              Skips{tooLarge("card/sub/big.bin")});
    EXPECT_EQ(PreflightSkips::evaluate({{"big.bin", fat + 1}, {"card/big.bin", fat + 1}}, traitsOf("vfat", "ext4")),
              Skips{tooLarge("big.bin")});
}

TEST(PreflightSkips, ExcludeFileHoldsOneAnchoredNulEndedRecordPerPathThatFitsRsyncsFilterLine) {
    const Skips skips{collision("a b/c.txt"), tooLarge("x[1].txt"), collision("back\\slash]"), collision("w*?[]\\")};
    using namespace std::string_literals;
    // Escaped only when a wildcard makes rsync read the pattern as one.
    EXPECT_EQ(PreflightSkips::excludeFileContents(skips), "/a b/c.txt\0/x\\[1\\].txt\0/back\\slash]\0/w\\*\\?\\[\\]\\\\\0"s);
    test::TemporaryFolder folder;
    folder.write("excludes", "an older and longer file");
    PreflightSkips::writeExcludeFile({collision("\xC3\xA9t\xC3\xA9")}, folder / "excludes");
    EXPECT_EQ(test::readFile(folder / "excludes"), "/\xC3\xA9t\xC3\xA9\0"s);
    PreflightSkips::writeExcludeFile({}, folder / "excludes");
    EXPECT_EQ(test::readFile(folder / "excludes"), "");
    EXPECT_THROW(PreflightSkips::writeExcludeFile(skips, folder / "missing/excludes"), FileError);
    const std::string plain(4094, 'a');
    EXPECT_TRUE(PreflightSkips::canExclude(plain));
    EXPECT_FALSE(PreflightSkips::canExclude(plain + "a"));
    const std::string wild(2047, '?');  // "/" and 2047 escaped characters
    EXPECT_EQ(PreflightSkips::excludeFileContents({collision(wild)}).size(), 4095u + 1);
    EXPECT_TRUE(PreflightSkips::canExclude(wild));
    EXPECT_FALSE(PreflightSkips::canExclude(wild + "?"));
    EXPECT_FALSE(PreflightSkips::canExclude(wild + "a"));
    EXPECT_TRUE(PreflightSkips::canExclude(std::string(2046, '?') + "a"));
}

TEST_F(SpellingAlignmentTest, RenamesEachComponentToTheDesiredBytesAndALinkItselfNotItsTarget) {
    folder.write("caf" + nfdE + "/Sub/photo.JPG");
    const std::string desired = "caf" + nfcE + "/sub/Photo.jpg";
    SpellingAlignment::align(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    EXPECT_EQ(namesIn(root), Names{"caf" + nfcE});
    EXPECT_EQ(namesIn(root / ("caf" + nfcE)), Names{"sub"});
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), Names{"Photo.jpg"});
    SpellingAlignment::align(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    SpellingAlignment::align("caf" + nfcE + "//sub/Photo.jpg", desired, root);
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), Names{"Photo.jpg"});
    folder.write("target");
    fs::create_symlink("target", root / "lnk");
    SpellingAlignment::align("LNK", "lnk", root);
    EXPECT_EQ(namesIn(root), (Names{"LNK", "caf" + nfcE, "target"}));
    EXPECT_TRUE(fs::is_symlink(root / "LNK"));
}

TEST_F(SpellingAlignmentTest, NeverReplacesAnotherItem) {
    fs::create_directories(root / "Docs");
    folder.write("docs/photo.JPG");
    EXPECT_EQ(alignErrno("Docs/Photo.jpg", "docs/photo.JPG", root), EEXIST);
    EXPECT_EQ(namesIn(root), (Names{"Docs", "docs"}));
    EXPECT_EQ(namesIn(root / "docs"), Names{"photo.JPG"});
    EXPECT_EQ(alignErrno("Nothing", "nothing", root), EEXIST);
    SCOPED_TRACE("RefusesUnsafePaths");
    auto unsafePath = [&](std::string_view desired, std::string_view actual) -> std::string {
        try {
            SpellingAlignment::align(desired, actual, root);
        } catch (const TwoWayEngineError& error) {
            EXPECT_EQ(error.code(), TwoWayEngineError::Code::unsafePath);
            return error.path();
        }
        return "(no error)";
    };
    EXPECT_EQ(unsafePath("a/b", "a/b/c"), "a/b/c");
    fs::create_directories(root / ".KeltoSync" / "x");
    EXPECT_EQ(unsafePath(".KeltoSync/X", ".KeltoSync/x"), ".KeltoSync/x");
    EXPECT_TRUE(fs::exists(root / ".KeltoSync" / "x"));
    // A symbolic-link folder on the way is never walked through.
    const test::TemporaryFolder elsewhere;
    elsewhere.write("x");
    fs::create_directory_symlink(elsewhere.path(), root / "link");
    EXPECT_EQ(unsafePath("link/X", "link/x"), "link/x");
    EXPECT_EQ(namesIn(elsewhere.path()), Names{"x"});
}

TEST(SpellingAlignmentCaseInsensitive, RenamesTheOneItemToTheWantedCase) {
    test::TemporaryFolder holder;
    const fs::path root = holder / "mnt";
    fs::create_directory(root);
    test::TestMounts mounts;
    if (!mounts.exfat(holder / "image", root)) GTEST_SKIP() << "no exFAT volume can be mounted here";
    holder.write("mnt/docs/photo.JPG");
    SpellingAlignment::align("Docs/Photo.jpg", "docs/photo.JPG", root);
    EXPECT_EQ(namesIn(root), Names{"Docs"});
    EXPECT_EQ(namesIn(root / "Docs"), Names{"Photo.jpg"});
    EXPECT_EQ(test::readFile(root / "Docs/Photo.jpg"), "x");
}
