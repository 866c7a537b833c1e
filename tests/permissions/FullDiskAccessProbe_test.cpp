#include "KeltoPermissions/FullDiskAccessProbe.h"
#include "KeltoPermissions/PermissionItems.h"
#include "tests/permissions/Await.h"
#include "tests/permissions/ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <stdexcept>
#include <system_error>

namespace kelto {
namespace {

using std::filesystem::path;
using S = PermissionStatus;

// Answers each path with the error set for it and records what was listed: as root, the real disk refuses nothing.
struct FakeFileAccess final : ProbeFileAccess {
    std::map<path, int> errors;
    mutable std::vector<path> listed;
    void readOneByte(const path& file) const override { answer(file); }
    void listFolder(const path& folder) const override { listed.push_back(folder), answer(folder); }
    void answer(const path& at) const {
        if (const auto error = errors.find(at); error != errors.end())
            throw std::system_error(error->second, std::generic_category(), at.string());
    }
};

// A database of zero length reads nothing, and that is enough; a refusal anywhere, even the last, means missing;
// other failures cannot be told; with no folders the database decides alone.
TEST(FullDiskAccessProbeTest, ARefusalAnywhereMeansMissingOtherFailuresCannotBeTold) {
    const path db = "/var/db/protected.db", desktop = "/home/u/Desktop", documents = "/home/u/Documents";
    const std::map<path, int> refused{{db, EACCES}, {desktop, EPERM}, {documents, EACCES}},
        absent{{db, ENOENT}, {desktop, ENOENT}, {documents, ENOENT}};
    struct Row {
        std::map<path, int> errors;
        bool withDatabase, withFolders;
        S expected;
        std::vector<path> listed;
    };
    const Row rows[] = {
        {{}, true, true, S::granted, {}},
        {refused, true, true, S::missing, {desktop, documents}},
        {absent, true, true, S::unverifiable, {desktop, documents}},
        {{{desktop, ENOENT}, {documents, EPERM}}, false, true, S::missing, {desktop, documents}},
        {{{db, EACCES}}, true, true, S::granted, {desktop}},
        {refused, true, false, S::missing, {}},
        {absent, true, false, S::unverifiable, {}},
        {refused, false, false, S::unverifiable, {}},
    };
    for (const Row& row : rows) {
        FakeFileAccess files;
        files.errors = row.errors;
        const auto folders = row.withFolders ? std::vector<path>{desktop, documents} : std::vector<path>{};
        EXPECT_EQ(FullDiskAccessProbe::status(row.withDatabase ? std::optional(db) : std::nullopt, folders, files),
                  row.expected) << &row - rows;
        EXPECT_EQ(files.listed, row.listed) << &row - rows;
    }
}

TEST(FullDiskAccessProbeTest, APermissionErrorIsFoundDownANestedChain) {
    const std::system_error eperm(EPERM, std::generic_category());
    EXPECT_TRUE(FullDiskAccessProbe::isPermissionError(eperm));
    EXPECT_TRUE(FullDiskAccessProbe::isPermissionError(std::system_error(EACCES, std::system_category())));
    EXPECT_FALSE(FullDiskAccessProbe::isPermissionError(std::system_error(ENOENT, std::generic_category())));
    EXPECT_FALSE(FullDiskAccessProbe::isPermissionError(std::runtime_error("other")));
    try {
        try {
            throw eperm;
        } catch (...) {
            std::throw_with_nested(std::runtime_error("the listing failed"));
        }
    } catch (const std::exception& wrapped) {
        EXPECT_TRUE(FullDiskAccessProbe::isPermissionError(wrapped));
    }
}

TEST(FullDiskAccessProbeTest, TheSystemAccessAndTheFoldersOfTheUser) {
    QTemporaryDir home;
    QFile(home.path() + QStringLiteral("/empty")).open(QIODevice::WriteOnly);
    const path root = home.path().toStdString();
    const ProbeFileAccess& system = ProbeFileAccess::system();
    EXPECT_EQ(FullDiskAccessProbe::status(root / "empty", {}, system), S::granted);
    EXPECT_EQ(FullDiskAccessProbe::status(root / "none", {root / "none"}, system), S::unverifiable);
    EXPECT_EQ(FullDiskAccessProbe::status(std::nullopt, {root / "empty", root}, system), S::granted);
    test::ScopedEnvironment environment;
    environment.set("HOME", home.path().toUtf8());
    environment.set("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    environment.set("USER", "alice");
    QDir(home.path()).mkpath(QStringLiteral(".config"));
    QFile dirs(home.path() + QStringLiteral("/.config/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    dirs.close();
    EXPECT_EQ(FullDiskAccessProbe::defaultDirectories(),
              (std::vector<path>{root / "Schreibtisch", root / "Dokumente", "/media/alice", "/run/media/alice"}));
    // The item's check answers later, on this thread, from the files it found.
    QDir(home.path()).mkpath(QStringLiteral("Schreibtisch"));
    const PermissionItem item =
        PermissionItems::fullDiskAccess(QStringLiteral("detail"), PermissionRequirement::required, PermissionStrings());
    EXPECT_FALSE(item.destination);
    EXPECT_TRUE(item.allowsManualConfirm);
    const auto answer = test::await<S>(item.check);
    EXPECT_FALSE(answer.answeredInside);
    EXPECT_EQ(answer.value, S::granted);
}

}  // namespace
}  // namespace kelto
