// The per-user folders: made with their parents, and a failure leaves the
// folders-ready flag clear so that no file operation runs.
#include <gtest/gtest.h>

#include <cstdlib>

#include "params/user_data_folders.h"
#include "support/os.h"
#include "tests/test_support.h"

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
std::string Sub(std::initializer_list<const char*> parts) {
    std::string path;
    for (const char* p : parts) path = path.empty() ? std::string(p) : OsJoinPath(path, p);
    return path;
}
}  // namespace

TEST(UserDataFolders, AllFourFoldersAreMadeUnderTheRoots) {
    ResetUserDataFolders();
    EXPECT_FALSE(AreUserDataFoldersReady());
    std::string settings;
    EXPECT_FALSE(GetUserSettingsFolder(settings));
    ASSERT_TRUE(MakeUserDataFolder());
    EXPECT_TRUE(AreUserDataFoldersReady());
    std::string parameters, logs, common, product, root;
    ASSERT_TRUE(GetUserSettingsFolder(settings));
    ASSERT_TRUE(GetUserParametersFolder(parameters));
    ASSERT_TRUE(GetUserLogsFolder(logs));
    ASSERT_TRUE(GetCommonDataFolder(common));
    ASSERT_TRUE(GetProductCommonFolder(product));
    uint32_t result = 0;
    ASSERT_TRUE(OsGetUserDataRoot(root, &result));
    EXPECT_EQ(settings, OsJoinPath(root, Sub({"Corvane", "RaylumePro2", "Settings"})));
    EXPECT_EQ(parameters, OsJoinPath(root, Sub({"Corvane", "RaylumePro2", "Parameters"})));
    EXPECT_EQ(logs, OsJoinPath(root, Sub({"Corvane", "RaylumePro2", "Logs"})));
    EXPECT_TRUE(EndsWith(common, "CorvaneSoftware"));
    EXPECT_EQ(product, OsJoinPath(common, "Raylume Pro 2"));
    for (const auto& f : {settings, parameters, logs, common}) EXPECT_TRUE(OsFolderExists(f)) << f;
    // Making them again succeeds on the existing folders.
    EXPECT_TRUE(MakeUserDataFolder());
}

#ifndef _WIN32
TEST(UserDataFolders, AnUnusableRootLeavesTheFlagClear) {
    std::string blocker = OsJoinPath(TestScratchFolder(), "not-a-folder");
    ASSERT_TRUE(WriteWholeFile(blocker, "file"));
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string keep = saved ? saved : "";
    setenv("XDG_DATA_HOME", blocker.c_str(), 1);
    EXPECT_FALSE(MakeUserDataFolder());
    EXPECT_FALSE(AreUserDataFoldersReady());
    std::string parameters;
    EXPECT_FALSE(GetUserParametersFolder(parameters));
    setenv("XDG_DATA_HOME", keep.c_str(), 1);
    EXPECT_TRUE(MakeUserDataFolder());
}
#endif
