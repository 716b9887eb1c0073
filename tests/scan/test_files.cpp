// The working directory and the removal that Browse, Stop and the preview use.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "scan/files.h"
#include "tests/support/samples.h"

namespace korvel {
namespace {

bool exists(const std::string &path)
{
    struct stat status
    {
    };
    return ::lstat(path.c_str(), &status) == 0;
}

TEST(files, TemporaryDirectoryIsPrivateAndEndsInTheSeparator)
{
    const std::string &dir = temporary_directory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    struct stat status
    {
    };
    ASSERT_EQ(::lstat(dir.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0077, 0u);
    EXPECT_EQ(status.st_uid, ::getuid());
    EXPECT_EQ(working_directory(), dir + "Attachments");
}

TEST(files, RemovesNestedDirectoriesInOneCall)
{
    const std::string root = testing::scratch_directory("remove") + "/Attachments";
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    std::string dir = root;
    for (int i = 0; i < 5; ++i) {
        dir += "/level" + std::to_string(i);
        ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
        std::ofstream(dir + "/file.txt") << "data";
    }
    std::ofstream(root + "/top.html") << "x";
    EXPECT_TRUE(remove_directory(root + "/"));
    EXPECT_FALSE(exists(root));
    // Nothing there: false, as every caller expects and ignores.
    EXPECT_FALSE(remove_directory(root));
}

TEST(files, NeverFollowsSymbolicLinks)
{
    const std::string base = testing::scratch_directory("links");
    const std::string outside = base + "/outside";
    const std::string root = base + "/Attachments";
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    std::ofstream(outside + "/precious.txt") << "keep me";
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (root + "/link-to-dir").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/precious.txt").c_str(), (root + "/link-to-file").c_str()), 0);
    EXPECT_TRUE(remove_directory(root));
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(exists(outside + "/precious.txt"));

    // The working directory itself replaced by a link: the link is not entered.
    ASSERT_EQ(::symlink(outside.c_str(), root.c_str()), 0);
    EXPECT_FALSE(remove_directory(root));
    EXPECT_TRUE(exists(outside + "/precious.txt"));
}

TEST(files, ExistenceTest)
{
    const std::string base = testing::scratch_directory("exists");
    std::ofstream(base + "/a") << "x";
    EXPECT_EQ(path_exists(base + "/a"), 1);
    EXPECT_EQ(path_exists(base + "/b"), 0);
    EXPECT_EQ(path_exists(base + "/a/b"), 0);
    ASSERT_EQ(::symlink("/nonexistent-target", (base + "/dangling").c_str()), 0);
    EXPECT_EQ(path_exists(base + "/dangling"), 1);
}

} // namespace
} // namespace korvel
