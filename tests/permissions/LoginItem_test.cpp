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

namespace kelto {
namespace {

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
    PermissionStatus check(const PermissionItem& permission) {
        const auto answer = test::await<PermissionStatus>(permission.check);
        EXPECT_FALSE(answer.answeredInside);
        return answer.value.value_or(PermissionStatus::checking);
    }
    QTemporaryDir root;
    test::ScopedEnvironment environment;
    LoginItem item;
};

TEST_F(LoginItemTest, TheRequestWritesAnEntryThatStartsUsAndTheErrorIsSetKeptAndCleared) {
    const PermissionItem permission = PermissionItems::loginItem(
        QStringLiteral("detail"), PermissionRequirement::recommended, PermissionStrings(), std::nullopt, item);
    EXPECT_TRUE(item.entryPath.startsWith(root.path() + QStringLiteral("/config/autostart/")));
    EXPECT_EQ(check(permission), PermissionStatus::missing);
    ASSERT_TRUE(test::awaitDone(permission.request).value);
    EXPECT_FALSE(permission.requestState->error);
    EXPECT_EQ(check(permission), PermissionStatus::granted);
    EXPECT_EQ(AutostartEntry::read(item.entryPath).value().command, (QStringList{item.executable, "--login-item"}));
    // The program is gone: the message is set.
    QFile::remove(item.executable);
    EXPECT_EQ(check(permission), PermissionStatus::missing);
    EXPECT_EQ(permission.requestState->error, "The login item could not be found.");
    // Hidden by the user: still off, the message kept.
    makeProgram();
    write(item.entryPath, "[Desktop Entry]\nType=Application\nHidden=true\nExec=" +
               DesktopEntryExec::quote(item.command()).toUtf8() + "\n");
    EXPECT_EQ(check(permission), PermissionStatus::missing);
    EXPECT_EQ(permission.requestState->error, "The login item could not be found.");
    // Switched on again outside the application: the check clears it.
    AutostartEntry::write(item.entryPath, item.name, item.command());
    EXPECT_EQ(check(permission), PermissionStatus::granted);
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
    EXPECT_EQ(LoginItemProbe::permissionStatus(LoginItemState::unreadable), PermissionStatus::unverifiable);
}

TEST_F(LoginItemTest, AFailedRequestLeavesItsReasonInTheRequestState) {
    write(root.path() + QStringLiteral("/config"), "a file where the folder should be");
    EXPECT_THROW(LoginItemProbe::registerItem(item), AutostartEntryError);
    const PermissionItem permission = PermissionItems::loginItem(
        QStringLiteral("detail"), PermissionRequirement::optional, PermissionStrings(), QStringLiteral("Turn On"), item);
    ASSERT_TRUE(test::awaitDone(permission.request).value);
    EXPECT_TRUE(permission.requestState->error.value_or("").contains(item.entryPath));
    ASSERT_TRUE(QFile::remove(root.path() + QStringLiteral("/config")));  // a request that succeeds clears it
    ASSERT_TRUE(test::awaitDone(permission.request).value);
    EXPECT_FALSE(permission.requestState->error);
}

}  // namespace
}  // namespace kelto
