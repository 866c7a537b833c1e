#include "KeltoPermissions/FullDiskAccessProbe.h"
#include "KeltoPermissions/LoginItemProbe.h"
#include "KeltoPermissions/PermissionItems.h"
#include "Platform/Desktop/AutostartEntry.h"
#include "Platform/Desktop/AutostartEntryError.h"
#include "Platform/Desktop/DesktopEntryExec.h"
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
    const auto answer = test::await<S>(item.check);
    EXPECT_FALSE(answer.answeredInside);
    EXPECT_EQ(answer.value, S::granted);
}

TEST(DesktopEntryExecTest, QuotingRoundTripsAndFieldCodesAreLeftOut) {
    const QStringList command{"/opt/My \"Apps\"/it's 100% $HOME/`x`\\y/kelto", "--login-item", "", "plain"};
    EXPECT_EQ(DesktopEntryExec::parse(DesktopEntryExec::quote(command)), command);
    // A quote inside quotes is escaped, and the backslash escaped again as any string value's is.
    EXPECT_EQ(DesktopEntryExec::quote({"a\"b"}), "\"a\\\\\"b\"");
    EXPECT_EQ(DesktopEntryExec::quote({"/usr/bin/kelto", "50%"}), "/usr/bin/kelto 50%%");
    EXPECT_EQ(DesktopEntryExec::parse("kelto %U --name \"a b\" 100%% %f"),
              (QStringList{"kelto", "--name", "a b", "100%"}));
    EXPECT_EQ(DesktopEntryExec::parse("kelto\\sone"), (QStringList{"kelto", "one"}));
    EXPECT_FALSE(DesktopEntryExec::parse("\"/opt/kelto --login-item"));
}

// The entry lives in a temporary XDG_CONFIG_HOME; our program in a folder whose name needs every kind of quoting.
struct LoginItemTest : testing::Test {
    LoginItemTest() {
        environment.set("XDG_CONFIG_HOME", (root.path() + QStringLiteral("/config")).toUtf8());
        const QString folder = root.path() + QStringLiteral("/Kelto \"Sync\" 100% $HOME 'x'");
        QDir().mkpath(folder);
        item = {AutostartEntry::path(QStringLiteral("kelto-sync.desktop")), folder + QStringLiteral("/kelto-sync"),
                QStringLiteral("Kelto Sync")};
        makeProgram();
    }
    void makeProgram() {
        write(item.executable, "#!/bin/sh\n");
        QFile::setPermissions(item.executable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    static void write(const QString& path, const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    S check(const PermissionItem& permission) {
        const auto answer = test::await<S>(permission.check);
        EXPECT_FALSE(answer.answeredInside);
        return answer.value.value_or(S::checking);
    }
    QTemporaryDir root;
    test::ScopedEnvironment environment;
    LoginItem item;
};

TEST_F(LoginItemTest, TheRequestWritesAnEntryThatStartsUsAndTheErrorsAreSetKeptAndCleared) {
    const PermissionItem permission = PermissionItems::loginItem(
        QStringLiteral("detail"), PermissionRequirement::recommended, PermissionStrings(), std::nullopt, item);
    EXPECT_TRUE(item.entryPath.startsWith(root.path() + QStringLiteral("/config/autostart/")));
    // A file where the folder should be: the request fails and leaves its reason.
    write(root.path() + QStringLiteral("/config"), "a file where the folder should be");
    EXPECT_THROW(LoginItemProbe::registerItem(item), AutostartEntryError);
    ASSERT_TRUE(test::awaitDone(permission.request).value);
    EXPECT_TRUE(permission.requestState->error.value_or("").contains(item.entryPath));
    ASSERT_TRUE(QFile::remove(root.path() + QStringLiteral("/config")));
    EXPECT_EQ(check(permission), S::missing);
    ASSERT_TRUE(test::awaitDone(permission.request).value);
    EXPECT_FALSE(permission.requestState->error);
    EXPECT_EQ(check(permission), S::granted);
    EXPECT_EQ(AutostartEntry::read(item.entryPath).value().command, (QStringList{item.executable, "--login-item"}));
    // The program is gone: the message is set.
    QFile::remove(item.executable);
    EXPECT_EQ(check(permission), S::missing);
    EXPECT_EQ(permission.requestState->error, "The login item could not be found.");
    // Hidden by the user: still off, the message kept.
    makeProgram();
    write(item.entryPath, "[Desktop Entry]\nType=Application\nHidden=true\nExec=" +
               DesktopEntryExec::quote(item.command()).toUtf8() + "\n");
    EXPECT_EQ(check(permission), S::missing);
    EXPECT_EQ(permission.requestState->error, "The login item could not be found.");
    // Switched on again outside the application: the check clears it.
    AutostartEntry::write(item.entryPath, item.name, item.command());
    EXPECT_EQ(check(permission), S::granted);
    EXPECT_FALSE(permission.requestState->error);
}

TEST_F(LoginItemTest, OnlyAnEnabledEntryStartingThisProgramCountsAndAnUnreadableOneCannotBeTold) {
    const QByteArray exec = "Exec=" + DesktopEntryExec::quote(item.command()).toUtf8() + "\n";
    struct Case {
        QByteArray content;
        LoginItemState state;
    };
    const std::vector<Case> cases{
        {"[Desktop Entry]\n" + exec, LoginItemState::enabled},
        {"# ours\n[Desktop Entry]\nName=Kelto Sync\n" + exec + "X-GNOME-Autostart-enabled = false\n",
         LoginItemState::notRegistered},
        {"[Desktop Entry]\nHidden=true\n" + exec, LoginItemState::notRegistered},
        {"[Desktop Entry]\nExec=sh -c true\n", LoginItemState::notRegistered},
        {"[Desktop Entry]\nExec=kelto-program-that-is-nowhere --login-item\n", LoginItemState::notFound},
        {"[Desktop Entry]\nName=No command\n", LoginItemState::notFound},
        {"[Other Group]\n" + exec, LoginItemState::notFound},
    };
    QDir().mkpath(AutostartEntry::folder());
    for (const Case& c : cases) {
        write(item.entryPath, c.content);
        EXPECT_EQ(LoginItemProbe::state(item), c.state) << c.content.constData();
    }
    QFile::remove(item.entryPath);
    EXPECT_EQ(LoginItemProbe::state(item), LoginItemState::notRegistered);
    QDir().mkpath(item.entryPath);
    EXPECT_EQ(LoginItemProbe::state(item), LoginItemState::unreadable);
    EXPECT_EQ(LoginItemProbe::permissionStatus(LoginItemState::unreadable), S::unverifiable);
}

}  // namespace
}  // namespace kelto
