// The private Firebird root of the embedded engine: only a folder of our own that no one else can
// write is used, and everything in it that the engine reads is ours.
#include "Errors.h"
#include "FirebirdClient.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorvanto;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class EngineRoot : public ::testing::Test {
protected:
    void SetUp() override {
        // A stand-in for the installed Firebird root.
        system = dir.File("system");
        fs::create_directories(fs::path(system) / "plugins");
        WriteFile(fs::path(system) / "plugins" / "libEngine12.so", "engine");
        WriteFile(fs::path(system) / "plugins.conf", "system plugins\n");
        WriteFile(fs::path(system) / "firebird.conf", "system settings\n");
        WriteFile(fs::path(system) / "security3.fdb", "security");
    }
    // The folder is a private root of the system root: linked entries and our firebird.conf.
    void ExpectPrivateRoot(const std::string& folder) {
        EXPECT_EQ(ModeOf(folder), 0700u);
        for (const char* name : {"plugins", "plugins.conf", "security3.fdb"}) {
            fs::path entry = fs::path(folder) / name;
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(entry))) << entry;
            EXPECT_EQ(fs::read_symlink(entry), fs::path(system) / name) << entry;
        }
        fs::path conf = fs::path(folder) / "firebird.conf";
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(conf)));
        EXPECT_NE(ReadFile(conf).find("ServerMode = SuperClassic"), std::string::npos);
    }
    test::TempDir dir;
    std::string system;
};

TEST_F(EngineRoot, ANewFolderIsCreatedPrivateAndFilled) {
    std::string folder = dir.File("cache/sub/sorvanto-firebird");
    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), folder);
    ExpectPrivateRoot(folder);
    // A second run finds it as it left it.
    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), folder);
    ExpectPrivateRoot(folder);
}

TEST_F(EngineRoot, EntriesPlantedInOurOwnFolderAreReplaced) {
    std::string folder = dir.File("root");
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all);
    std::string evil = dir.File("evil");
    fs::create_directories(fs::path(evil) / "plugins");
    WriteFile(fs::path(evil) / "firebird.conf", "ServerMode = Super\n");
    WriteFile(fs::path(folder) / "plugins.conf", "Plugin = Engine12 { Module = /evil/lib.so }\n");
    fs::create_directory_symlink(fs::path(evil) / "plugins", fs::path(folder) / "plugins");
    fs::create_symlink(fs::path(evil) / "firebird.conf", fs::path(folder) / "firebird.conf");
    fs::create_directory(fs::path(folder) / "security3.fdb");

    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), folder);
    ExpectPrivateRoot(folder);
    // The link was replaced, not written through.
    EXPECT_EQ(ReadFile(fs::path(evil) / "firebird.conf"), "ServerMode = Super\n");
}

TEST_F(EngineRoot, AFolderThatIsNotSafelyOursIsLeftAloneForTheCacheFolder) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> plant;
    };
    const Case cases[] = {
        {"another user's folder",
         [](const fs::path& p) {
             fs::create_directory(p);
             fs::permissions(p, fs::perms::owner_all);
             WriteFile(p / "plugins.conf", "planted\n");
             ASSERT_EQ(::chown(p.c_str(), kOtherUser, kOtherUser), 0);
         }},
        {"a symbolic link to a folder of ours",
         [this](const fs::path& p) {
             fs::path target = dir.File("target");
             fs::create_directory(target);
             fs::permissions(target, fs::perms::owner_all);
             fs::create_directory_symlink(target, p);
         }},
        {"a group-writable folder",
         [](const fs::path& p) {
             fs::create_directory(p);
             fs::permissions(p, fs::perms::owner_all | fs::perms::group_all);
         }},
        {"a world-writable folder",
         [](const fs::path& p) {
             fs::create_directory(p);
             fs::permissions(p, fs::perms::all);
         }},
        {"a file", [](const fs::path& p) { WriteFile(p, "not a folder"); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path planted = dir.File("planted" + std::to_string(n));
        std::string cache = dir.File("cache" + std::to_string(n++) + "/sorvanto-firebird");
        c.plant(planted);
        EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {planted.string(), cache}), cache);
        ExpectPrivateRoot(cache);
        // Nothing was written into the refused folder.
        EXPECT_FALSE(fs::exists(fs::symlink_status(planted / "firebird.conf")));
    }
    fs::remove_all(dir.File("target"));
}

TEST_F(EngineRoot, NoSafeFolderIsAClearError) {
    fs::path other = dir.File("other");
    fs::create_directory(other);
    ASSERT_EQ(::chown(other.c_str(), kOtherUser, kOtherUser), 0);
    fs::path link = dir.File("link");
    fs::create_directory_symlink(dir.Path(), link);
    try {
        fbdrv::PreparePrivateRoot(system, {other.string(), link.string()});
        FAIL() << "an unsafe folder was used";
    } catch (const TDriverError& error) {
        EXPECT_EQ(error.ErrorCode(), DriverCode::DriverInitFailed);
        EXPECT_NE(error.Message().find("組み込みデータベース エンジンのフォルダを用意できません"),
                  std::string::npos)
            << error.Message();
        EXPECT_NE(error.Message().find(other.string() + ": 他のユーザーのフォルダです"),
                  std::string::npos)
            << error.Message();
        EXPECT_NE(error.Message().find(link.string() + ": シンボリック リンクです"),
                  std::string::npos)
            << error.Message();
    }
}

TEST(EngineRootCandidates, RuntimeOrTmpFirstThenTheCacheFolder) {
    test::TempDir runtime;
    const std::string tmp = "/tmp/sorvanto-firebird-" + std::to_string(::geteuid());
    struct Case {
        const char* runtime;
        const char* cacheHome;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {runtime.Path().c_str(), "/c", {runtime.File("sorvanto-firebird"), "/c/sorvanto-firebird"}},
        {nullptr, nullptr, {tmp, "/home/op/.cache/sorvanto-firebird"}},
        {"", "", {tmp, "/home/op/.cache/sorvanto-firebird"}},
        {"/no/such/folder", "relative", {tmp, "/home/op/.cache/sorvanto-firebird"}},
    };
    test::ScopedEnv home("HOME", "/home/op");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.runtime ? c.runtime : "(unset)"));
        test::ScopedEnv run("XDG_RUNTIME_DIR", c.runtime);
        test::ScopedEnv cache("XDG_CACHE_HOME", c.cacheHome);
        EXPECT_EQ(fbdrv::PrivateRootCandidates(), c.expected);
    }
}

} // namespace
