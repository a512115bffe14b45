// The engine's lock folder and a FIREBIRD root set by the user: a folder that someone else
// controls is never handed to the engine, the operator still logs on, and no two processes ever
// work on one database file without knowing of each other.
#include "Errors.h"
#include "FirebirdClient.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <optional>
#include <ostream>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace sorvanto;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534;

bool Root() {
    return ::geteuid() == 0;
}

std::optional<std::pair<uid_t, gid_t>> FirebirdAccount() {
    const passwd* account = ::getpwnam("firebird");
    const group* g = ::getgrnam("firebird");
    if (!account || !g)
        return std::nullopt;
    return std::make_pair(account->pw_uid, g->gr_gid);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void MakeFolder(const fs::path& path, mode_t mode, uid_t uid = ::geteuid(),
                gid_t gid = ::getegid()) {
    fs::create_directories(path);
    ASSERT_EQ(::chown(path.c_str(), uid, gid), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A file of the operator's that an attacker wants the engine to write: what an operator would
// notice of it.
struct FileFacts {
    std::string content;
    off_t size = 0;
    mode_t mode = 0;
    bool operator==(const FileFacts&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const FileFacts& f) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(f.mode));
        return out << f.size << " bytes, mode " << mode << ": \"" << f.content << "\"";
    }
};

FileFacts FactsOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {ReadFile(path), st.st_size, st.st_mode & 07777};
}

// The names under which the engine keeps its files for the database in the lock folder: fixed
// ones, and ones named by the file's device and inode, each as 8 bytes in hexadecimal.
std::vector<std::string> EngineFileNames(const std::string& database) {
    struct stat st {};
    EXPECT_EQ(::stat(database.c_str(), &st), 0);
    std::string id;
    for (std::uint64_t part : {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)})
        for (int byte = 0; byte < 8; ++byte) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", unsigned((part >> (8 * byte)) & 0xff));
            id += hex;
        }
    return {"fb_init", "fb12_trace", "fb_rename_guard", "fb_lock_" + id, "fb12_monitor_" + id};
}

// One run of the test peer (or any program) with its own environment, optionally as another
// user; standard output and error are read together.
class Process {
public:
    Process(const std::vector<std::string>& argv,
            const std::vector<std::pair<std::string, std::optional<std::string>>>& env,
            std::optional<uid_t> user = std::nullopt) {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            std::string_view entry = *e;
            std::string name(entry.substr(0, entry.find('=')));
            bool replaced = false;
            for (const auto& [n, v] : env)
                replaced = replaced || n == name;
            if (!replaced)
                environment.emplace_back(entry);
        }
        for (const auto& [name, value] : env)
            if (value)
                environment.push_back(name + "=" + *value);
        std::vector<char*> args, envp;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : environment)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        int in[2], out[2];
        EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only calls that are safe after a fork of a threaded process.
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            if (user &&
                (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0))
                ::_exit(126);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~Process() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Finish();
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads until the peer says it holds its attachment, or ends.
    bool WaitReady() {
        while (!Contains(output_, "ready\n"))
            if (!ReadSome())
                return false;
        return true;
    }
    // Ends its input, reads the rest and waits for it: its exit status.
    int Finish() {
        if (in_ >= 0) {
            ::close(in_);
            in_ = -1;
        }
        while (ReadSome()) {
        }
        if (out_ >= 0) {
            ::close(out_);
            out_ = -1;
        }
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return status_;
    }
    const std::string& Output() const { return output_; }

private:
    bool ReadSome() {
        if (out_ < 0)
            return false;
        pollfd p{out_, POLLIN, 0};
        // A peer that hangs fails the test instead of stopping the suite.
        if (::poll(&p, 1, 60'000) <= 0) {
            ADD_FAILURE() << "no answer within 60 s; so far: " << output_;
            ::kill(pid_, SIGKILL);
            return false;
        }
        char buffer[4096];
        ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string output_;
};

class LockFolder : public ::testing::Test {
public:
    void SetUp() override {
        installed = fbdrv::SystemFirebirdRoot();
        ASSERT_FALSE(installed.empty());
        // Others may look in (the operator of one case is another user), not write.
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0711), 0);
        MakeFolder(dir.File("runtime"), 0700);
        MakeFolder(dir.File("data"), 0700);
        database = dir.File("data/shared.fdb");
        test::CreateDatabase(database, {"create table T (ID integer, NAME varchar(40))"});
        good = dir.File("good-lock");
        MakeFolder(good, 0700);
        victim = dir.File("victim.txt");
        WriteFile(victim, "the operator's own notes.\n\n");
        ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
    }

    // Links under every name of the engine's files in folder, each to the operator's file.
    void PlantLinks(const fs::path& folder) {
        for (const std::string& name : EngineFileNames(database))
            fs::create_symlink(victim, folder / name);
    }
    void ExpectLinksUntouched(const fs::path& folder) {
        for (const std::string& name : EngineFileNames(database)) {
            fs::path link = folder / name;
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link))) << link;
        }
    }

    // The peer in its own runtime folder, deciding for itself how to run the engine.
    std::unique_ptr<Process> Peer(const std::string& lock, int id, bool hold = false,
                                  std::optional<uid_t> user = std::nullopt,
                                  std::optional<std::string> firebird = std::nullopt,
                                  const std::string& db = {}) {
        std::vector<std::string> argv{SORVANTO_TEST_PEER};
        if (hold)
            argv.push_back("--hold");
        argv.insert(argv.end(), {db.empty() ? database : db, std::to_string(id), "peer"});
        std::string runtime = dir.File(user ? "runtime-other" : "runtime");
        return std::make_unique<Process>(
            argv,
            std::vector<std::pair<std::string, std::optional<std::string>>>{
                {"FIREBIRD", firebird},
                {"FIREBIRD_LOCK", lock},
                {"XDG_RUNTIME_DIR", runtime},
                {"XDG_CACHE_HOME", runtime + "/cache"},
                {"SORVANTO_TEST_MARK", dir.File("mark")}},
            user);
    }

    // isql-fb embedded, with the given root (the installed one, which opens files alone, when
    // empty) and lock folder; its exit status, its output in the failure message.
    int Isql(const std::string& root, const std::string& lock, std::string* output = nullptr) {
        WriteFile(dir.File("count.sql"), "select count(*) from T;\n");
        Process isql({"/usr/bin/isql-fb", "-q", "-bail", "-user", "SYSDBA", "-i",
                      dir.File("count.sql"), database},
                     {{"FIREBIRD", root.empty() ? std::nullopt : std::optional(root)},
                      {"FIREBIRD_LOCK", lock}});
        int status = isql.Finish();
        if (output)
            *output = isql.Output();
        return status;
    }

    test::TempDir dir;
    std::string installed, database, good, victim;
};

TEST_F(LockFolder, AFolderSomeoneElseControlsIsNeverWrittenAndTheLogonStillSucceeds) {
    if (!Root())
        GTEST_SKIP() << "needs root to stand in for another user";
    struct Case {
        const char* what;
        std::function<std::string(LockFolder&)> make; // the lock folder to hand over
    };
    const Case cases[] = {
        {"another user's world-writable folder",
         [](LockFolder& t) {
             std::string folder = t.dir.File("attacker-lock");
             MakeFolder(folder, 0777, kOtherUser, kOtherUser);
             t.PlantLinks(folder);
             return folder;
         }},
        {"a folder of ours that everyone can write",
         [](LockFolder& t) {
             std::string folder = t.dir.File("open-lock");
             MakeFolder(folder, 01777);
             t.PlantLinks(folder);
             return folder;
         }},
        {"a link to another user's folder",
         [](LockFolder& t) {
             std::string target = t.dir.File("attacker-target");
             MakeFolder(target, 0755, kOtherUser, kOtherUser);
             t.PlantLinks(target);
             std::string link = t.dir.File("linked-lock");
             fs::create_directory_symlink(target, link);
             return link;
         }},
        {"Debian's group layout with a planted link",
         [](LockFolder& t) {
             auto firebird = FirebirdAccount();
             if (!firebird)
                 return std::string();
             std::string folder = t.dir.File("group-lock");
             MakeFolder(folder, 0770, firebird->first, firebird->second);
             t.PlantLinks(folder);
             return folder;
         }},
    };
    const FileFacts before = FactsOf(victim);
    int id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string folder = c.make(*this);
        if (folder.empty())
            continue; // no firebird account on this machine
        auto peer = Peer(folder, id);
        EXPECT_EQ(peer->Finish(), 0) << peer->Output();
        EXPECT_TRUE(Contains(peer->Output(), "rows: " + std::to_string(id)));
        // Refused with the reason, and the engine ran alone with a lock folder of its own.
        EXPECT_TRUE(Contains(peer->Output(), "engine: alone " + dir.File("runtime")))
            << peer->Output();
        EXPECT_TRUE(Contains(peer->Output(), "ロック フォルダを共有できないため"))
            << peer->Output();
        EXPECT_EQ(FactsOf(victim), before);
        ExpectLinksUntouched(fs::canonical(folder));
        ++id;
    }
}

TEST_F(LockFolder, WithoutTheSystemFolderTheEngineRunsAloneAndCreatesNone) {
    // Only the package's dependencies installed: the server package's folder is missing.
    std::string missing = dir.File("missing-lock");
    auto peer = Peer(missing, 1);
    EXPECT_EQ(peer->Finish(), 0) << peer->Output();
    EXPECT_TRUE(Contains(peer->Output(), "rows: 1\nengine: alone")) << peer->Output();
    EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
}

TEST_F(LockFolder, SharedTwoInstancesAndIsqlWorkOnTheFileTogether) {
    auto first = Peer(good, 1, true);
    ASSERT_TRUE(first->WaitReady()) << first->Output();
    EXPECT_TRUE(Contains(first->Output(), "engine: shared " + good)) << first->Output();

    auto second = Peer(good, 2);
    EXPECT_EQ(second->Finish(), 0) << second->Output();
    EXPECT_TRUE(Contains(second->Output(), "rows: 2\nengine: shared")) << second->Output();

    std::string sharedRoot =
        fbdrv::PreparePrivateRoot(installed, {dir.File("isql-root")}, fbdrv::RootMode::Shared);
    std::string output;
    EXPECT_EQ(Isql(sharedRoot, good, &output), 0) << output;
    EXPECT_TRUE(Contains(output, "2")) << output;
    EXPECT_EQ(first->Finish(), 0) << first->Output();
}

TEST_F(LockFolder, AloneTheFileIsLockedAgainstEveryOtherProcess) {
    std::string unsafe = dir.File("open-lock");
    MakeFolder(unsafe, 0777);
    std::string sharedRoot =
        fbdrv::PreparePrivateRoot(installed, {dir.File("isql-root")}, fbdrv::RootMode::Shared);

    auto alone = Peer(unsafe, 1, true);
    ASSERT_TRUE(alone->WaitReady()) << alone->Output();
    ASSERT_TRUE(Contains(alone->Output(), "engine: alone")) << alone->Output();
    struct Other {
        const char* what;
        std::function<std::pair<int, std::string>()> run;
    };
    const Other others[] = {
        {"a second instance sharing a safe folder",
         [&] {
             auto p = Peer(good, 2);
             int status = p->Finish();
             return std::make_pair(status, p->Output());
         }},
        {"a second instance that also runs alone",
         [&] {
             auto p = Peer(unsafe, 3);
             int status = p->Finish();
             return std::make_pair(status, p->Output());
         }},
        {"isql-fb in a shared root",
         [&] {
             std::string output;
             int status = Isql(sharedRoot, good, &output);
             return std::make_pair(status, output);
         }},
        {"isql-fb in the installed root",
         [&] {
             std::string output;
             int status = Isql("", good, &output);
             return std::make_pair(status, output);
         }},
    };
    for (const Other& other : others) {
        SCOPED_TRACE(other.what);
        auto [status, output] = other.run();
        EXPECT_NE(status, 0) << output;
        EXPECT_TRUE(Contains(output, "Database already opened with engine instance")) << output;
    }
    EXPECT_EQ(alone->Finish(), 0) << alone->Output();

    // The other way round: a process sharing the file keeps an alone engine out.
    auto shared = Peer(good, 4, true);
    ASSERT_TRUE(shared->WaitReady()) << shared->Output();
    auto late = Peer(unsafe, 5);
    EXPECT_NE(late->Finish(), 0) << late->Output();
    EXPECT_TRUE(Contains(late->Output(), "Database already opened with engine instance"))
        << late->Output();
    EXPECT_EQ(shared->Finish(), 0) << shared->Output();

    // Only the rows of the processes that were let in arrived.
    auto check = test::MakeConnection(database, "Check");
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select count(*), min(ID), max(ID) from T", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetInt64(0), 2);
    EXPECT_EQ(rows->Reader().GetInt64(1), 1);
    EXPECT_EQ(rows->Reader().GetInt64(2), 4);
}

TEST_F(LockFolder, AnOperatorOutsideGroupFirebirdLogsOnAlone) {
    auto firebird = FirebirdAccount();
    if (!Root() || !firebird)
        GTEST_SKIP() << "needs root and the firebird account";
    std::string groupLock = dir.File("group-lock");
    MakeFolder(groupLock, 0770, firebird->first, firebird->second);
    MakeFolder(dir.File("runtime-other"), 0700, kOtherUser, kOtherUser);
    MakeFolder(dir.File("other"), 0700, kOtherUser, kOtherUser);
    const std::string db = dir.File("other/own.fdb");
    test::CreateDatabase(db, {"create table T (ID integer, NAME varchar(40))"});
    ASSERT_EQ(::chown(db.c_str(), kOtherUser, kOtherUser), 0);

    auto outsider = Peer(groupLock, 1, false, kOtherUser, std::nullopt, db);
    EXPECT_EQ(outsider->Finish(), 0) << outsider->Output();
    EXPECT_TRUE(Contains(outsider->Output(), "rows: 1\nengine: alone")) << outsider->Output();
    EXPECT_TRUE(Contains(outsider->Output(), groupLock + ": このユーザーは書き込めません"))
        << outsider->Output();
    // Nothing of the outsider's reached the group's folder.
    EXPECT_TRUE(fs::is_empty(groupLock));
}

TEST_F(LockFolder, AFirebirdRootSomeoneElseCanChangeIsRefusedBeforeAnythingIsLoaded) {
    if (!Root())
        GTEST_SKIP() << "needs root to stand in for another user";
    // A root as the user may keep one: every entry linked to the installed root.
    std::string own = fbdrv::PreparePrivateRoot(installed, {dir.File("own")});
    // The same with plugins of its own, the engine replaced by a library that leaves a mark.
    auto withPlantedEngine = [&](const std::string& name, uid_t owner, mode_t mode) {
        std::string root = dir.File(name);
        MakeFolder(root, 0700);
        for (const auto& entry : fs::directory_iterator(own))
            if (entry.path().filename() != "plugins")
                fs::create_symlink(entry.path(), fs::path(root) / entry.path().filename());
        fs::path plugins = fs::path(root) / "plugins";
        MakeFolder(plugins, 0755);
        for (const auto& entry : fs::directory_iterator(fs::path(installed) / "plugins"))
            fs::create_symlink(entry.path(), plugins / entry.path().filename());
        fs::remove(plugins / "libEngine12.so");
        fs::copy_file(SORVANTO_TEST_MARKER, plugins / "libEngine12.so");
        EXPECT_EQ(::chown((plugins / "libEngine12.so").c_str(), owner, owner), 0);
        EXPECT_EQ(::chmod((plugins / "libEngine12.so").c_str(), mode), 0);
        return root;
    };
    struct Case {
        const char* what;
        std::string root;
        std::string reason;
    };
    std::string otherRoot = dir.File("other-root");
    MakeFolder(otherRoot, 0755);
    for (const auto& entry : fs::directory_iterator(own))
        fs::create_symlink(entry.path(), fs::path(otherRoot) / entry.path().filename());
    ASSERT_EQ(::chown(otherRoot.c_str(), kOtherUser, kOtherUser), 0);
    std::string otherEngine = withPlantedEngine("other-engine", kOtherUser, 0755);
    std::string writableEngine = withPlantedEngine("writable-engine", ::geteuid(), 0666);
    const Case cases[] = {
        {"a root of another user's", otherRoot, otherRoot + ": 他のユーザーのフォルダです"},
        {"an engine of another user's", otherEngine,
         otherEngine + "/plugins/libEngine12.so: 他のユーザーのファイルです"},
        {"an engine everyone can write", writableEngine,
         writableEngine + "/plugins/libEngine12.so: 他のユーザーも書き込めます"},
    };
    int id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto peer = Peer(good, id++, false, std::nullopt, c.root);
        EXPECT_EQ(peer->Finish(), 1) << peer->Output();
        EXPECT_TRUE(Contains(peer->Output(), "環境変数 FIREBIRD のフォルダは使えません"))
            << peer->Output();
        EXPECT_TRUE(Contains(peer->Output(), c.reason)) << peer->Output();
        EXPECT_FALSE(fs::exists(dir.File("mark"))) << "the planted library was loaded";
    }

    // The user's own root works, with a lock folder it may share; with one it may not, the
    // reasons say what to do.
    auto fine = Peer(good, 10, false, std::nullopt, own);
    EXPECT_EQ(fine->Finish(), 0) << fine->Output();
    EXPECT_TRUE(Contains(fine->Output(), "engine: shared " + good)) << fine->Output();
    std::string unsafe = dir.File("open-lock");
    MakeFolder(unsafe, 0777);
    auto refused = Peer(unsafe, 11, false, std::nullopt, own);
    EXPECT_EQ(refused->Finish(), 1) << refused->Output();
    EXPECT_TRUE(Contains(refused->Output(), "Firebird のロック フォルダを安全に使えません (" +
                                                unsafe + ": 他のユーザーも書き込めます)"))
        << refused->Output();
}

// The checks themselves, on folders made for each case.
TEST(LockFolderChecks, OnlyAFolderNoOneElseControlsIsShared) {
    test::TempDir dir;
    auto firebird = FirebirdAccount();
    struct Case {
        const char* what;
        std::function<std::string(const std::string&)> make; // the folder, from a base name
        std::string problem; // "" when the folder may be shared; else part of the reason
        bool needsRoot = false;
    };
    const Case cases[] = {
        {"our own private folder",
         [](const std::string& f) {
             MakeFolder(f, 0700);
             return f;
         },
         ""},
        {"Debian's group layout",
         [&](const std::string& f) {
             MakeFolder(f, 0770, firebird->first, firebird->second);
             WriteFile(f + "/fb_init", "");
             return f;
         },
         "", true},
        {"Debian's group layout with a link",
         [&](const std::string& f) {
             MakeFolder(f, 0770, firebird->first, firebird->second);
             fs::create_symlink("/etc/passwd", f + "/fb12_trace");
             return f;
         },
         "/fb12_trace: シンボリック リンクです", true},
        {"a hard link",
         [&](const std::string& f) {
             MakeFolder(f, 0700);
             WriteFile(dir.File("elsewhere"), "x");
             fs::create_hard_link(dir.File("elsewhere"), f + "/fb_init");
             return f;
         },
         "/fb_init: ほかの名前からもリンクされています"},
        {"a pipe",
         [](const std::string& f) {
             MakeFolder(f, 0700);
             ::mkfifo((f + "/fb12_trace").c_str(), 0600);
             return f;
         },
         "/fb12_trace: 通常のファイルではありません"},
        {"another user's folder",
         [](const std::string& f) {
             MakeFolder(f, 0755, kOtherUser, kOtherUser);
             return f;
         },
         ": 他のユーザーのフォルダです (所有者 65534)", true},
        {"a world-writable folder",
         [](const std::string& f) {
             MakeFolder(f, 01777);
             return f;
         },
         ": 他のユーザーも書き込めます"},
        {"a folder another group can write",
         [](const std::string& f) {
             MakeFolder(f, 0770, ::geteuid(), kOtherUser);
             return f;
         },
         "のユーザーも書き込めます", true},
        {"a link",
         [&](const std::string& f) {
             MakeFolder(f + "-target", 0700);
             fs::create_directory_symlink(f + "-target", f);
             return f;
         },
         ": シンボリック リンクです"},
        {"a file",
         [](const std::string& f) {
             WriteFile(f, "");
             return f;
         },
         ": フォルダではありません"},
        {"a missing folder", [](const std::string& f) { return f; }, ": No such file"},
        {"a folder inside another user's",
         [](const std::string& f) {
             MakeFolder(f, 0755, kOtherUser, kOtherUser);
             MakeFolder(f + "/lock", 0700);
             return f + "/lock";
         },
         ": 他のユーザーが中身を入れ替えられます", true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && (!Root() || !firebird))
            continue;
        std::string folder = c.make(dir.File("case" + std::to_string(n++)));
        std::string problems = fbdrv::SharedLockFolderProblems(folder);
        if (c.problem.empty())
            EXPECT_EQ(problems, "");
        else
            EXPECT_TRUE(Contains(problems, c.problem)) << problems;
    }
}

TEST(LockFolderChecks, TheEngineUsesFirebirdLockOrItsBuiltInFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "/tmp/firebird"}, {"", "/tmp/firebird"}, {"/run/x/lock", "/run/x/lock"}};
    for (const auto& [value, expected] : cases) {
        test::ScopedEnv lock("FIREBIRD_LOCK", value);
        EXPECT_EQ(fbdrv::EngineLockFolder(), expected);
    }
}

} // namespace
