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

// Answers each path with the error set for it (0: success) and records what
// was listed. Running as root, the real file system refuses nothing.
class FakeFileAccess final : public ProbeFileAccess {
public:
    std::map<path, int> errors;
    mutable std::vector<path> listed;

    void readOneByte(const path& file) const override { answer(file); }
    void listFolder(const path& folder) const override {
        listed.push_back(folder);
        answer(folder);
    }

private:
    void answer(const path& at) const {
        const auto error = errors.find(at);
        if (error != errors.end() && error->second != 0) {
            throw std::system_error(error->second, std::generic_category(), at.string());
        }
    }
};

const path database = "/var/db/protected.db";
const path desktop = "/home/u/Desktop";
const path documents = "/home/u/Documents";

PermissionStatus probe(const FakeFileAccess& files, bool withDatabase = true) {
    return FullDiskAccessProbe::status(withDatabase ? std::optional(database) : std::nullopt, {desktop, documents},
                                       files);
}

TEST(FullDiskAccessProbeTest, ARefusalAnywhereMeansMissingOtherFailuresCannotBeTold) {
    FakeFileAccess emptyRead;  // a database of zero length reads nothing, and that is enough
    EXPECT_EQ(probe(emptyRead), PermissionStatus::granted);
    EXPECT_TRUE(emptyRead.listed.empty());
    FakeFileAccess refused;
    refused.errors = {{database, EACCES}, {desktop, EPERM}, {documents, EACCES}};
    EXPECT_EQ(probe(refused), PermissionStatus::missing);
    FakeFileAccess absent;
    absent.errors = {{database, ENOENT}, {desktop, ENOENT}, {documents, ENOENT}};
    EXPECT_EQ(probe(absent), PermissionStatus::unverifiable);
    // The refusal seen last still counts.
    FakeFileAccess lateRefusal;
    lateRefusal.errors = {{desktop, ENOENT}, {documents, EPERM}};
    EXPECT_EQ(probe(lateRefusal, false), PermissionStatus::missing);
    FakeFileAccess firstFolderReads;
    firstFolderReads.errors = {{database, EACCES}};
    EXPECT_EQ(probe(firstFolderReads), PermissionStatus::granted);
    EXPECT_EQ(firstFolderReads.listed, std::vector<path>{desktop});
    // With no folders the database's error decides alone.
    EXPECT_EQ(FullDiskAccessProbe::status(database, {}, refused), PermissionStatus::missing);
    EXPECT_EQ(FullDiskAccessProbe::status(database, {}, absent), PermissionStatus::unverifiable);
    EXPECT_EQ(FullDiskAccessProbe::status(std::nullopt, {}, refused), PermissionStatus::unverifiable);
}

TEST(FullDiskAccessProbeTest, APermissionErrorIsFoundDownANestedChain) {
    const std::system_error eperm(EPERM, std::generic_category());
    EXPECT_TRUE(FullDiskAccessProbe::isPermissionError(eperm));
    EXPECT_TRUE(FullDiskAccessProbe::isPermissionError(std::system_error(EACCES, std::system_category())));
    EXPECT_FALSE(FullDiskAccessProbe::isPermissionError(std::system_error(ENOENT, std::generic_category())));
    try {
        try {
            throw eperm;
        } catch (...) {
            std::throw_with_nested(std::runtime_error("the listing failed"));
        }
    } catch (const std::exception& wrapped) {
        EXPECT_TRUE(FullDiskAccessProbe::isPermissionError(wrapped));
    }
    EXPECT_FALSE(FullDiskAccessProbe::isPermissionError(std::runtime_error("other")));
}

TEST(FullDiskAccessProbeTest, TheSystemAccessAndTheFoldersOfTheUser) {
    QTemporaryDir home;
    QFile(home.path() + QStringLiteral("/empty")).open(QIODevice::WriteOnly);
    const path root = home.path().toStdString();
    const ProbeFileAccess& system = ProbeFileAccess::system();
    EXPECT_EQ(FullDiskAccessProbe::status(root / "empty", {}, system), PermissionStatus::granted);
    EXPECT_EQ(FullDiskAccessProbe::status(root / "none", {root / "none"}, system), PermissionStatus::unverifiable);
    EXPECT_EQ(FullDiskAccessProbe::status(std::nullopt, {root / "empty", root}, system), PermissionStatus::granted);
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
    const auto answer = test::await<PermissionStatus>(item.check);
    EXPECT_FALSE(answer.answeredInside);
    EXPECT_EQ(answer.value, PermissionStatus::granted);
}

}  // namespace
}  // namespace kelto
