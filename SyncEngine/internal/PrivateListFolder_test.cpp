#include "SyncEngine/internal/PrivateListFolder.h"

#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <unistd.h>
#include <cerrno>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

int errorOf(const fs::path& folder) {
    try {
        PrivateListFolder{folder};
        return 0;
    } catch (const FileError& error) {
        return error.errorNumber();
    }
}

// The folder and its lists have their modes whatever the umask.
TEST(PrivateListFolder, OnlyTheUsersOwnFolderServesAndOnlyTheUsersListsAreCleared) {
    test::TemporaryFolder tmp;
    for (const mode_t mask : {mode_t{0}, mode_t{0277}, mode_t{0777}}) {
        SCOPED_TRACE(mask);
        const fs::path folder = tmp / ("lists" + std::to_string(mask));
        const mode_t was = ::umask(mask);
        const std::unique_ptr<const mode_t, void (*)(const mode_t*)> restore(&was,
                                                                            [](const mode_t* m) { ::umask(*m); });
        const PrivateListFolder lists(folder);
        const fs::path list = lists.write(PrivateListFolder::filesPrefix, "a/b");
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0700));
        EXPECT_EQ(fs::status(list).permissions(), fs::perms(0600));
    }
    fs::create_directory(tmp / "elsewhere");
    fs::create_directory_symlink(tmp / "elsewhere", tmp / "link");
    EXPECT_EQ(errorOf(tmp / "link"), ENOTDIR);
    EXPECT_EQ(errorOf(fs::path()), EINVAL);
    EXPECT_NE(fs::status(tmp / "elsewhere").permissions(), fs::perms(0700));  // the link's target untouched
    if (::geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
    tmp.write("lists/KeltoSync-files-theirs", "their/name");
    tmp.write("lists/KeltoSync-files-ours", "our/name");
    ASSERT_EQ(::chown((tmp / "lists/KeltoSync-files-theirs").c_str(), 65534, 65534), 0);
    {
        const PrivateListFolder lists(tmp / "lists");
        EXPECT_EQ(test::namesIn(tmp / "lists"), std::set<std::string>{"KeltoSync-files-theirs"});
    }
    ASSERT_EQ(::chown((tmp / "lists").c_str(), 65534, 65534), 0);
    EXPECT_EQ(errorOf(tmp / "lists"), EACCES);
}

}  // namespace
