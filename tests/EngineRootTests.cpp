// The private Firebird root of the embedded engine: only a folder of our own that no one else can
// write is used, and everything in it that the engine reads is ours.
#include "Errors.h"
#include "FirebirdClient.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
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
        fs::create_directories(fs::path(system) / "intl");
        WriteFile(fs::path(system) / "intl" / "libfbintl.so", "module 1");
        WriteFile(fs::path(system) / "intl" / "fbintl.conf", "charsets\n");
    }
    // The folder is a private root of the system root: linked entries, our firebird.conf and an
    // intl folder of our own with a copy of the module.
    void ExpectPrivateRoot(const std::string& folder) {
        EXPECT_EQ(ModeOf(folder), 0700u);
        for (const char* name : {"plugins", "plugins.conf", "security3.fdb", "intl/fbintl.conf"}) {
            fs::path entry = fs::path(folder) / name;
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(entry))) << entry;
            EXPECT_EQ(fs::read_symlink(entry), fs::path(system) / name) << entry;
        }
        fs::path conf = fs::path(folder) / "firebird.conf";
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(conf)));
        EXPECT_NE(ReadFile(conf).find("ServerMode = SuperClassic"), std::string::npos);
        fs::path intl = fs::path(folder) / "intl";
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(intl))) << intl;
        EXPECT_EQ(ModeOf(intl), 0700u);
        fs::path module = intl / "libfbintl.so";
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(module))) << module;
        EXPECT_EQ(ReadFile(module), ReadFile(fs::path(system) / "intl" / "libfbintl.so"));
    }
    test::TempDir dir;
    std::string system;
};

TEST_F(EngineRoot, ANewFolderIsCreatedPrivateAndFilled) {
    std::string folder = dir.File("cache/sub/sorvanto-firebird");
    const std::string root = folder + "/root2";
    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), root);
    EXPECT_EQ(ModeOf(folder), 0700u);
    ExpectPrivateRoot(root);
    // A second run finds it as it left it.
    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), root);
    ExpectPrivateRoot(root);
    // The installed module was updated: the next run copies it again.
    WriteFile(fs::path(system) / "intl" / "libfbintl.so", "module 2, longer");
    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), root);
    ExpectPrivateRoot(root);
}

TEST_F(EngineRoot, ProcessesPreparingTheRootAtOnceEachGetAWholeOne) {
    const std::string folder = dir.File("shared/sorvanto-firebird");
    constexpr int kProcesses = 4;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Only file work here; every process starts when the pipe is closed.
            ::close(start[1]);
            char c;
            while (::read(start[0], &c, 1) > 0) {
            }
            int failures = 0;
            for (int round = 0; round < 20; ++round) {
                try {
                    if (fbdrv::PreparePrivateRoot(system, {folder}) != folder + "/root2")
                        ++failures;
                } catch (const TDriverError&) {
                    ++failures;
                }
            }
            ::_exit(failures);
        }
        children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "rounds that failed";
    }
    ExpectPrivateRoot(folder + "/root2");
}

TEST_F(EngineRoot, AnOlderVersionsRootStaysAsItIsAndTheRootIsBuiltBesideIt) {
    // The layout of earlier versions: the folder itself the root, every entry linked.
    std::string folder = dir.File("sorvanto-firebird");
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all);
    for (const char* name : {"plugins", "plugins.conf", "security3.fdb", "intl"})
        fs::create_symlink(fs::path(system) / name, fs::path(folder) / name);
    WriteFile(fs::path(folder) / "firebird.conf", "ServerMode = SuperClassic\n");

    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), folder + "/root2");
    ExpectPrivateRoot(folder + "/root2");
    // An older version still running keeps its root.
    EXPECT_EQ(fs::read_symlink(fs::path(folder) / "intl"), fs::path(system) / "intl");
    EXPECT_EQ(ReadFile(fs::path(folder) / "firebird.conf"), "ServerMode = SuperClassic\n");
}

TEST_F(EngineRoot, ARootReachedThroughALinkIsNamedByItsRealPath) {
    fs::create_directory(dir.File("real"));
    fs::create_directory_symlink(dir.File("real"), dir.File("linked"));
    for (const std::string& folder :
         {dir.File("linked/sorvanto-firebird"), dir.File("real/../real/./sorvanto-firebird")}) {
        SCOPED_TRACE(folder);
        const std::string root =
            fs::canonical(dir.File("real")).string() + "/sorvanto-firebird/root2";
        EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {folder}), root);
        ExpectPrivateRoot(root);
    }
}

TEST_F(EngineRoot, EntriesPlantedInOurOwnFolderAreReplaced) {
    std::string candidate = dir.File("candidate");
    std::string folder = candidate + "/root2";
    for (const std::string& f : {candidate, folder}) {
        fs::create_directory(f);
        fs::permissions(f, fs::perms::owner_all);
    }
    std::string evil = dir.File("evil");
    fs::create_directories(fs::path(evil) / "plugins");
    WriteFile(fs::path(evil) / "firebird.conf", "ServerMode = Super\n");
    WriteFile(fs::path(folder) / "plugins.conf", "Plugin = Engine12 { Module = /evil/lib.so }\n");
    fs::create_directory_symlink(fs::path(evil) / "plugins", fs::path(folder) / "plugins");
    fs::create_symlink(fs::path(evil) / "firebird.conf", fs::path(folder) / "firebird.conf");
    fs::create_directory(fs::path(folder) / "security3.fdb");
    fs::create_directory_symlink(fs::path(evil) / "plugins", fs::path(folder) / "intl");

    EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {candidate}), folder);
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
        EXPECT_EQ(fbdrv::PreparePrivateRoot(system, {planted.string(), cache}), cache + "/root2");
        ExpectPrivateRoot(cache + "/root2");
        // Nothing was written into the refused folder.
        EXPECT_FALSE(fs::exists(fs::symlink_status(planted / "root2")));
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

// Runs isql-fb in embedded mode in the given Firebird root on a script; returns its output, or
// nullopt when it failed (its output then in the failure message).
std::optional<std::string> RunIsql(const std::string& root, const std::string& script,
                                   const test::TempDir& dir) {
    WriteFile(dir.File("script.sql"), script);
    std::string command = "FIREBIRD='" + root + "' isql-fb -q -bail -ch UTF8 -user SYSDBA -i '" +
                          dir.File("script.sql") + "' >'" + dir.File("isql.out") + "' 2>&1";
    int status = std::system(command.c_str());
    std::string output = ReadFile(dir.File("isql.out"));
    EXPECT_EQ(status, 0) << output;
    if (status != 0)
        return std::nullopt;
    return output;
}

TEST(InstalledCharacterSets, AToolInAPrivateRootHasEveryCharacterSetOfTheInstalledOne) {
    const std::string installed = fbdrv::SystemFirebirdRoot();
    ASSERT_FALSE(installed.empty());
    test::TempDir dir;
    // Reached through a link, as a runtime folder may be.
    fs::create_directory(dir.File("real"));
    fs::create_directory_symlink(dir.File("real"), dir.File("linked"));
    std::string root = fbdrv::PreparePrivateRoot(installed, {dir.File("linked/sorvanto-firebird")});
    std::string db = dir.File("real/intl.fdb");
    auto output = RunIsql(
        root,
        "create database '" + db +
            "' default character set SJIS_0208;\n"
            "create table T (S varchar(10), E varchar(10) character set EUCJ_0208,\n"
            "  W varchar(10) character set WIN1252);\n"
            "insert into T values ('日本語', '日本語', 'café');\n"
            "commit;\n"
            "set list on;\n"
            "select S, E, W, octet_length(S) as SB, octet_length(E) as EB, octet_length(W) as WB\n"
            "  from T;\n",
        dir);
    ASSERT_TRUE(output);
    std::string list; // the output with each run of blanks made one
    for (char c : *output)
        if (c != ' ' || list.empty() || list.back() != ' ')
            list += c;
    // Two bytes a character in the Japanese sets, one in WIN1252: held in each column's own set.
    EXPECT_NE(list.find("S 日本語\nE 日本語\nW café\nSB 6\nEB 6\nWB 4"), std::string::npos)
        << *output;
}

TEST(InstalledCharacterSets, AttachmentsInTheInternationalSetsLogOn) {
    test::TempDir dir;
    const std::string db = dir.File("sjis.fdb");
    test::CreateDatabase(db,
                         {"create table T (N integer not null primary key, NAME varchar(20))",
                          "insert into T values (1, 'x')"},
                         "SJIS_0208");
    for (const char* set : {"SJIS_0208", "EUCJ_0208", "WIN1252"}) {
        SCOPED_TRACE(set);
        auto connection = test::MakeConnection(db);
        connection->Params().Add(std::string("ServerCharSet=") + set);
        ASSERT_NO_THROW(connection->SetConnected(true));
        std::unique_ptr<TSQLResultSet> rows;
        connection->Execute("select count(*) from T", {}, &rows);
        ASSERT_TRUE(rows->Next());
        EXPECT_EQ(rows->Reader().GetInt64(0), 1);
    }
}

TEST(InstalledCharacterSets, TheLoopbackServerStoresTextInSjis) {
    const test::TestServer server = test::TestServer::FromEnvironment();
    if (!server.Available())
        GTEST_SKIP() << "no test server";
    test::TempDir dir;
    const std::string db = server.Database(dir.File("sjis.fdb"));
    {
        TParamList props{"Database=" + db, "User_Name=SYSDBA", "Password=" + server.password,
                         "DatabaseCharSet=SJIS_0208"};
        auto created = TDrvConnection::CreateDatabase(props);
        auto transaction = created->BeginTransaction(TDrvIsolation::ReadCommitted);
        created->ExecuteImmediate(*transaction,
                                  "create table T (N integer not null primary key, NAME "
                                  "varchar(20))");
        transaction->Commit();
    }
    auto connection = test::MakeConnection(db);
    connection->Params().Add("Password=" + server.password);
    connection->Params().Add("ServerCharSet=UTF8");
    connection->Execute("insert into T values (?, ?)",
                        {std::int64_t(1), std::string("日本語の文書")});
    std::unique_ptr<TSQLResultSet> rows;
    connection->Execute("select NAME, octet_length(NAME) from T", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(std::get<std::string>(rows->Reader().GetValue(0)), "日本語の文書");
    EXPECT_EQ(rows->Reader().GetInt64(1), 12);
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
