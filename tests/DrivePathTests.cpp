#include "DrivePaths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

using namespace sorvanto;

namespace {} // namespace

TEST(DrivePath, DrivesRootFromTheEnvironment) {
    struct Case {
        const char* drives;
        const char* dataHome;
        const char* expected;
    };
    const Case cases[] = {
        {"/srv/drives", "/data", "/srv/drives"},
        {nullptr, "/data", "/data/sorvanto/drives"},
        {"", "/data", "/data/sorvanto/drives"},
        {nullptr, nullptr, "/home/op/.local/share/sorvanto/drives"},
        {"", "", "/home/op/.local/share/sorvanto/drives"},
    };
    test::ScopedEnv home("HOME", "/home/op");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.drives ? c.drives : "(unset)") + " " +
                     (c.dataHome ? c.dataHome : "(unset)"));
        test::ScopedEnv drives("SORVANTO_DRIVES", c.drives);
        test::ScopedEnv dataHome("XDG_DATA_HOME", c.dataHome);
        EXPECT_EQ(DrivesRoot(), c.expected);
    }
}

TEST(DrivePath, IsDrivePath) {
    for (const char* path : {"C:\\", "c:/", "z:\\data\\x.fdb", "Q:/x"})
        EXPECT_TRUE(IsDrivePath(path)) << path;
    for (const char* path : {"", "C", "C:", "C:x.fdb", "1:\\x", "::\\x", "\\\\server\\share\\x",
                             "/abs/x.fdb", "localhost:/x.fdb", "localhost:C:\\x.fdb", "alias"})
        EXPECT_FALSE(IsDrivePath(path)) << path;
}

class DrivePathMapping : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root + "/c/DOCUMENT");
        std::ofstream(root + "/c/DOCUMENT/Connection.ini") << "[S]\n";
        std::filesystem::create_directories(root + "/c/Data");
        std::filesystem::create_directories(root + "/c/data");
        std::filesystem::create_directories(root + "/c/データ");
    }

    test::TempDir dir;
    const std::string root = dir.Path() + "/drives";
    test::ScopedEnv drives{"SORVANTO_DRIVES", root.c_str()};
};

TEST_F(DrivePathMapping, MatchesExistingEntriesWithoutRegardToCase) {
    struct Case {
        const char* path;
        const char* mapped; // below the drives folder
    };
    const Case cases[] = {
        {"C:\\document\\CONNECTION.INI", "/c/DOCUMENT/Connection.ini"},
        {"c:/Document/connection.ini", "/c/DOCUMENT/Connection.ini"},
        {"C:\\DOCUMENT/Connection.ini", "/c/DOCUMENT/Connection.ini"},
        {"c:\\firebird\\new.fdb", "/c/firebird/new.fdb"},          // nothing there: spelling kept
        {"C:\\document\\Sub\\New.FDB", "/c/DOCUMENT/Sub/New.FDB"}, // matched as far as it goes
        {"C:\\data\\x.fdb", "/c/data/x.fdb"},                      // the exact spelling first
        {"C:\\Data\\x.fdb", "/c/Data/x.fdb"},
        {"c:\\データ\\X.FDB", "/c/データ/X.FDB"},
        {"D:\\Data\\x.fdb", "/d/Data/x.fdb"}, // a drive without a folder
        // "." and ".." stay within the drive, as on Windows.
        {"C:\\..\\x.fdb", "/c/x.fdb"},
        {"C:\\a\\..\\..\\x.fdb", "/c/x.fdb"},
        {"c:/../../DOCUMENT/./connection.ini", "/c/DOCUMENT/Connection.ini"},
        {"C:\\document\\..\\Data\\.\\x.fdb", "/c/Data/x.fdb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(MapDrivePath(c.path), root + c.mapped);
        EXPECT_EQ(MapDatabasePath(c.path), root + c.mapped);
    }
}

TEST_F(DrivePathMapping, OtherDatabasePathsPassUnchanged) {
    for (const char* path : {"localhost:/x.fdb", "/abs/x.fdb", "alias", "host/3051:alias",
                             "server:C:\\DATA\\DOC.FDB", "C:relative.fdb", ""}) {
        EXPECT_EQ(MapDatabasePath(path), path);
        EXPECT_EQ(MapDrivePath(path), path);
    }
}
