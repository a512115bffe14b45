#include "FirebirdClient.h"

#include "Errors.h"
#include "ParamList.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace sorvanto {

std::string ClientLibraryFile(std::string_view vendorLib) {
    if (SameText(vendorLib, "fbclient.dll"))
        return "libfbclient.so.2";
    return std::string(vendorLib);
}

namespace fbdrv {

namespace {
namespace fs = std::filesystem;

constexpr const char* kSharedConf =
    "# Written by Sorvanto: the embedded engine shares database files with other processes.\n"
    "ServerMode = SuperClassic\n";

// SuperServer opens each database file with an exclusive lock: a process with another lock
// folder is refused ("Database already opened with engine instance, incompatible with current")
// instead of working on the file without knowing of ours.
constexpr const char* kAloneConf =
    "# Written by Sorvanto: the lock folder cannot be shared safely, so the embedded engine\n"
    "# opens each database file alone, locked against every other process.\n"
    "ServerMode = Super\n";

// The engine's lock folder when FIREBIRD_LOCK does not name one.
constexpr const char* kDefaultLockFolder = "/tmp/firebird";

// The lock folder inside an alone root.
constexpr const char* kLockFolder = "lock";

// The folders of a Firebird root that the engine loads libraries from.
constexpr const char* kLibraryFolders[] = {"plugins", "intl", "lib", "UDF"};

// The root inside a candidate folder. Earlier versions used the candidate itself as the root,
// with intl linked to the installed folder, and relink it there at every start; such a version
// may still be running, so this layout lives beside it. The name changes with any change of
// layout that an older version would undo.
constexpr const char* kRootFolder = "root2";
constexpr const char* kAloneRootFolder = "root2-alone";

// A folder that cannot serve as the private root, and why.
class RootRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Refuse(const std::string& reason) {
    throw RootRefused(reason);
}

[[noreturn]] void RefuseErrno(const std::string& what, int error) {
    Refuse(what + ": " + std::strerror(error));
}

// A folder we may keep files in: a real folder (not a link) of our own that no one else can
// write, inside a parent that no one else can rename it out of.
void CheckOwnFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        RefuseErrno(path, errno);
    if (S_ISLNK(st.st_mode))
        Refuse(path + ": シンボリック リンクです");
    if (!S_ISDIR(st.st_mode))
        Refuse(path + ": フォルダではありません");
    if (st.st_uid != ::geteuid())
        Refuse(path + ": 他のユーザーのフォルダです (所有者 " + std::to_string(st.st_uid) + ")");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        Refuse(path + ": 他のユーザーも書き込めます");
    std::string parent = fs::path(path).parent_path().string();
    struct stat up {};
    if (::stat(parent.c_str(), &up) != 0)
        RefuseErrno(parent, errno);
    bool othersWrite = (up.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if ((up.st_uid != ::geteuid() && up.st_uid != 0) || (othersWrite && !(up.st_mode & S_ISVTX)))
        Refuse(parent + ": 他のユーザーが中身を入れ替えられます");
}

// Creates the folder (mode 0700) and any missing parent, or takes the one that is there.
void MakeOwnFolder(const std::string& path) {
    std::error_code ec;
    fs::path parent = fs::path(path).parent_path();
    if (!fs::is_directory(parent, ec)) {
        fs::create_directories(parent, ec);
        if (ec)
            Refuse(parent.string() + ": " + ec.message());
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        RefuseErrno(path, errno);
    CheckOwnFolder(path);
}

// The entry is a symbolic link to target; one that is anything else is replaced in one step, so
// that another process using the root never finds it missing.
void PointLinkAt(const fs::path& link, const fs::path& target) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec) == target && !ec)
        return;
    fs::path temp = link;
    temp += ".link" + std::to_string(::getpid());
    fs::remove(temp, ec);
    if (::symlink(target.c_str(), temp.c_str()) != 0)
        RefuseErrno(temp.string(), errno);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        fs::remove_all(link, ec); // a link cannot replace a real folder in one step
        if (ec)
            Refuse(link.string() + ": " + ec.message());
    }
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        int error = errno;
        fs::remove(temp, ec);
        RefuseErrno(link.string(), error);
    }
}

// Reads a regular file of our own without following a link; nullopt for anything else.
std::optional<std::string> ReadOwnFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<std::string> content;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        content.emplace();
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            content->append(buffer, static_cast<std::size_t>(n));
        if (n < 0)
            content.reset();
    }
    ::close(fd);
    return content;
}

// Writes the file whole under a new name, then renames it over the old entry.
void WriteOwnFile(const fs::path& path, const std::string& content) {
    fs::path temp = path;
    temp += ".tmp" + std::to_string(::getpid());
    std::error_code ec;
    fs::remove(temp, ec);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        RefuseErrno(temp.string(), errno);
    std::size_t done = 0;
    int error = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && !error)
        error = errno;
    struct stat st {};
    if (!error && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        fs::remove_all(path, ec);
        if (ec)
            error = ec.value();
    }
    if (!error && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error) {
        fs::remove(temp, ec);
        RefuseErrno(path.string(), error);
    }
}

// Reads a file of the installed root whole; nullopt when it cannot be read.
std::optional<std::string> ReadInstalledFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> content{std::in_place};
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            errno = error;
            return std::nullopt;
        }
        content->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

// The file is our own copy of source; one that differs (the installed Firebird was updated) is
// replaced whole in one step, so that a process loading it finds the old or the new one.
void CopyInstalledFile(const fs::path& copy, const fs::path& source) {
    std::optional<std::string> content = ReadInstalledFile(source);
    if (!content)
        RefuseErrno(source.string(), errno);
    if (ReadOwnFile(copy) == content)
        return;
    WriteOwnFile(copy, *content);
    if (ReadOwnFile(copy) != content)
        Refuse(copy.string() + ": 書き込んだ内容を読み戻せません");
}

bool IsSharedLibrary(const fs::directory_entry& entry) {
    std::string name = entry.path().filename().string();
    std::error_code ec;
    return entry.is_regular_file(ec) &&
           (name.ends_with(".so") || name.find(".so.") != std::string::npos);
}

// Makes folder the root's own intl folder. The engine loads the international module from
// $(root)/intl and takes its entry points only when the module's real path is the path it was
// given: through a link they are refused and every character set of the module is missing. So
// the folder is real and the libraries in it are copies; the rest is linked.
void FillLibraryFolder(const std::string& folder, const std::string& installed) {
    struct stat st {};
    // Anything else under the name goes (another process may be removing it too).
    if (::lstat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
        ::unlink(folder.c_str()) != 0 && errno != ENOENT)
        RefuseErrno(folder, errno);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        RefuseErrno(folder, errno);
    CheckOwnFolder(folder);
    std::error_code ec;
    fs::directory_iterator entries(installed, ec);
    if (ec)
        Refuse(installed + ": " + ec.message());
    for (const auto& entry : entries) {
        fs::path own = fs::path(folder) / entry.path().filename();
        if (IsSharedLibrary(entry))
            CopyInstalledFile(own, entry.path());
        else
            PointLinkAt(own, entry.path());
    }
}

// Libraries in a folder mounted noexec cannot be loaded.
void CheckLoadable(const std::string& folder) {
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_NOEXEC))
        Refuse(folder + ": ライブラリを読み込めないファイル システムです (noexec)");
}

// Makes folder a private root: every entry of the system root linked, except firebird.conf,
// which is our own, and intl, which is a folder of our own; an alone root also gets its own
// lock folder.
void FillPrivateRoot(const std::string& folder, const std::string& systemRoot, RootMode mode) {
    CheckLoadable(folder);
    std::error_code ec;
    fs::directory_iterator entries(systemRoot, ec);
    if (ec)
        Refuse(systemRoot + ": " + ec.message());
    for (const auto& entry : entries) {
        std::string name = entry.path().filename().string();
        if (name == "intl" && entry.is_directory(ec))
            FillLibraryFolder((fs::path(folder) / name).string(), entry.path().string());
        else if (name != "firebird.conf" && !(mode == RootMode::Alone && name == kLockFolder))
            PointLinkAt(fs::path(folder) / name, entry.path());
    }
    const std::string conf = mode == RootMode::Shared ? kSharedConf : kAloneConf;
    fs::path confPath = fs::path(folder) / "firebird.conf";
    if (ReadOwnFile(confPath) != conf)
        WriteOwnFile(confPath, conf);
    if (ReadOwnFile(confPath) != conf)
        Refuse(confPath.string() + ": 書き込んだ内容を読み戻せません");
    if (mode == RootMode::Alone)
        MakeOwnFolder((fs::path(folder) / kLockFolder).string());
    // Nothing may have changed hands while we worked.
    CheckOwnFolder(folder);
}

// The candidate folder made ours, by its real path: the engine compares the module paths it
// builds from the root with their real paths, so the root is named without links, "." or "..".
std::string MakeRootIn(const std::string& candidate, RootMode mode) {
    MakeOwnFolder(candidate);
    char real[PATH_MAX];
    if (!::realpath(candidate.c_str(), real))
        RefuseErrno(candidate, errno);
    CheckOwnFolder(real);
    std::string root =
        std::string(real) + "/" + (mode == RootMode::Shared ? kRootFolder : kAloneRootFolder);
    MakeOwnFolder(root);
    return root;
}

std::optional<uid_t> FirebirdAccount() {
    if (const passwd* account = ::getpwnam("firebird"))
        return account->pw_uid;
    return std::nullopt;
}

std::string GroupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid))
        return g->gr_name;
    return std::to_string(gid);
}

// A group whose members may write a folder of owner's: Debian's group firebird, which shares the
// lock folder by design, or the owner's own group (named as the owner, no other member).
bool SharingGroup(gid_t gid, uid_t owner) {
    const group* g = ::getgrgid(gid);
    if (!g)
        return false;
    if (std::string_view(g->gr_name) == "firebird")
        return true;
    const passwd* account = ::getpwuid(owner);
    if (!account || std::string_view(g->gr_name) != account->pw_name)
        return false;
    for (char** member = g->gr_mem; *member; ++member)
        if (std::string_view(*member) != account->pw_name)
            return false;
    return true;
}

using TrustedOwners = std::vector<uid_t>;

bool Trusted(const TrustedOwners& owners, uid_t uid) {
    return std::find(owners.begin(), owners.end(), uid) != owners.end();
}

// Every folder from the top of the file system down to folder (named by its real path) is owned
// by a trusted account and can be changed by no one else, unless its sticky bit keeps others to
// their own entries: no one else can rename or replace what lies below it.
void CheckAncestors(const std::string& folder, const TrustedOwners& owners,
                    std::set<std::string>& checked) {
    char real[PATH_MAX];
    if (!::realpath(folder.c_str(), real))
        RefuseErrno(folder, errno);
    for (fs::path at = real;; at = at.parent_path()) {
        if (!checked.insert(at.string()).second)
            return; // it and everything above it passed already
        struct stat st {};
        if (::stat(at.c_str(), &st) != 0)
            RefuseErrno(at.string(), errno);
        bool othersWrite = (st.st_mode & S_IWOTH) ||
                           ((st.st_mode & S_IWGRP) && !SharingGroup(st.st_gid, st.st_uid));
        if (!Trusted(owners, st.st_uid) || (othersWrite && !(st.st_mode & S_ISVTX)))
            Refuse(at.string() + ": 他のユーザーが中身を入れ替えられます");
        if (at == at.parent_path())
            return;
    }
}

// The engine's files in a shared lock folder are plain files of one name each: a link (or a hard
// link) would make the engine write, and change the mode of, a file somewhere else.
void CheckLockFolderEntries(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        RefuseErrno(folder, errno);
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "/" + std::string(name);
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue; // removed meanwhile
            RefuseErrno(path, errno);
        }
        if (S_ISLNK(st.st_mode))
            Refuse(path + ": シンボリック リンクです");
        if (!S_ISREG(st.st_mode))
            Refuse(path + ": 通常のファイルではありません");
        if (st.st_nlink > 1)
            Refuse(path + ": ほかの名前からもリンクされています");
    }
}

void CheckSharedLockFolder(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        RefuseErrno(folder, errno);
    if (S_ISLNK(st.st_mode))
        Refuse(folder + ": シンボリック リンクです");
    if (!S_ISDIR(st.st_mode))
        Refuse(folder + ": フォルダではありません");
    TrustedOwners owners{0, ::geteuid()};
    if (std::optional<uid_t> firebird = FirebirdAccount())
        owners.push_back(*firebird);
    if (!Trusted(owners, st.st_uid))
        Refuse(folder + ": 他のユーザーのフォルダです (所有者 " + std::to_string(st.st_uid) + ")");
    if (st.st_mode & S_IWOTH)
        Refuse(folder + ": 他のユーザーも書き込めます");
    if ((st.st_mode & S_IWGRP) && !SharingGroup(st.st_gid, st.st_uid))
        Refuse(folder + ": グループ " + GroupName(st.st_gid) + " のユーザーも書き込めます");
    std::set<std::string> checked;
    CheckAncestors(fs::path(folder).parent_path().string(), owners, checked);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        Refuse(folder + ": このユーザーは書き込めません (グループ " + GroupName(st.st_gid) +
               " のフォルダです)");
    CheckLockFolderEntries(folder);
}

// A file or folder the engine reads or loads from a user's root: owned by root or us and
// writable by no one else, followed through a link, in folders no one else can change.
void CheckLoadedEntry(const fs::path& path, const TrustedOwners& owners,
                      std::set<std::string>& checked, bool libraryFolder) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        RefuseErrno(path.string(), errno);
    if (!Trusted(owners, st.st_uid))
        Refuse(path.string() +
               (S_ISDIR(st.st_mode) ? ": 他のユーザーのフォルダです (所有者 "
                                    : ": 他のユーザーのファイルです (所有者 ") +
               std::to_string(st.st_uid) + ")");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        Refuse(path.string() + ": 他のユーザーも書き込めます");
    CheckAncestors(fs::path(path).parent_path().string(), owners, checked);
    if (!S_ISDIR(st.st_mode) || !libraryFolder)
        return;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec))
        CheckLoadedEntry(entry.path(), owners, checked, false);
    if (ec)
        Refuse(path.string() + ": " + ec.message());
}

void CheckUserRoot(const std::string& root) {
    struct stat st {};
    if (::lstat(root.c_str(), &st) != 0)
        RefuseErrno(root, errno);
    if (S_ISLNK(st.st_mode))
        Refuse(root + ": シンボリック リンクです");
    if (!S_ISDIR(st.st_mode))
        Refuse(root + ": フォルダではありません");
    const TrustedOwners owners{0, ::geteuid()};
    std::set<std::string> checked;
    CheckLoadedEntry(root, owners, checked, false);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        std::string name = entry.path().filename().string();
        bool library = std::find(std::begin(kLibraryFolders), std::end(kLibraryFolders), name) !=
                       std::end(kLibraryFolders);
        CheckLoadedEntry(entry.path(), owners, checked, library);
    }
    if (ec)
        Refuse(root + ": " + ec.message());
}

// A database the embedded engine opens: a path without a host ("host:path", "host/port:path",
// "inet://host/path" go to a server).
bool IsLocalDatabase(std::string_view database) {
    if (database.find("://") != std::string_view::npos)
        return false;
    std::size_t colon = database.find(':');
    std::size_t slash = database.find_first_of("/\\");
    return colon == std::string_view::npos || (slash != std::string_view::npos && slash < colon);
}

// The loader does not always leave errno behind: find the cause from the file or the loader's text.
int LoadErrorCode(const std::string& file, int loaderErrno) {
    if (file.find('/') != std::string::npos && ::access(file.c_str(), R_OK) != 0)
        return errno;
    const char* text = ::dlerror();
    if (text && std::strstr(text, std::strerror(ENOENT)))
        return ENOENT;
    return loaderErrno;
}
} // namespace

std::string SystemFirebirdRoot() {
    std::vector<fs::path> candidates;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib", ec))
        candidates.push_back(entry.path() / "firebird" / "3.0");
    candidates.emplace_back("/usr/lib/firebird/3.0");
    candidates.emplace_back("/opt/firebird");
    for (const auto& candidate : candidates)
        if (fs::exists(candidate / "plugins" / "libEngine12.so", ec))
            return candidate.string();
    return {};
}

std::vector<std::string> PrivateRootCandidates() {
    std::vector<std::string> candidates;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/' && ::access(runtime, W_OK) == 0)
        candidates.push_back(std::string(runtime) + "/sorvanto-firebird");
    else
        candidates.push_back("/tmp/sorvanto-firebird-" + std::to_string(::geteuid()));
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (cache && *cache == '/')
        candidates.push_back(std::string(cache) + "/sorvanto-firebird");
    else if (home && *home == '/')
        candidates.push_back(std::string(home) + "/.cache/sorvanto-firebird");
    return candidates;
}

std::string PreparePrivateRoot(const std::string& systemRoot,
                               const std::vector<std::string>& candidates, RootMode mode) {
    std::string reasons;
    for (const std::string& folder : candidates) {
        try {
            std::string root = MakeRootIn(folder, mode);
            FillPrivateRoot(root, systemRoot, mode);
            return root;
        } catch (const RootRefused& refused) {
            reasons += std::string(reasons.empty() ? "" : "; ") + refused.what();
        }
    }
    throw TDriverError(DriverCode::DriverInitFailed,
                       "組み込みデータベース エンジンのフォルダを用意できません (" + reasons + ")");
}

std::string EngineLockFolder() {
    const char* lock = std::getenv("FIREBIRD_LOCK");
    return lock && *lock ? lock : kDefaultLockFolder;
}

std::string SharedLockFolderProblems(const std::string& folder) {
    try {
        CheckSharedLockFolder(folder);
        return {};
    } catch (const RootRefused& refused) {
        return refused.what();
    }
}

std::string UserRootProblems(const std::string& root) {
    try {
        CheckUserRoot(root);
        return {};
    } catch (const RootRefused& refused) {
        return refused.what();
    }
}

namespace {
std::mutex engineLock;
bool enginePrepared = false;
EngineSharing engine;

EngineSharing DecideEngine() {
    EngineSharing sharing;
    sharing.lockFolder = EngineLockFolder();
    const char* own = std::getenv("FIREBIRD");
    if (own && *own) {
        if (std::string problems = UserRootProblems(own); !problems.empty())
            throw TDriverError(DriverCode::DriverInitFailed,
                               "環境変数 FIREBIRD のフォルダは使えません (" + problems + ")");
        // The user's own root keeps its own server mode: it can only run with the lock folder
        // that every other process uses.
        if (std::string problems = SharedLockFolderProblems(sharing.lockFolder); !problems.empty())
            throw TDriverError(DriverCode::DriverInitFailed,
                               "Firebird のロック フォルダを安全に使えません (" + problems +
                                   ")。環境変数 FIREBIRD を設定せずに起動すると、専用のロック "
                                   "フォルダでデータベースを単独で開きます");
        sharing.root = own;
        sharing.shared = true;
        return sharing;
    }
    const std::string system = SystemFirebirdRoot();
    if (system.empty()) {
        // No engine installed: only servers can be reached, with the client's compiled-in root.
        sharing.lockFolder.clear();
        return sharing;
    }
    sharing.reasons = SharedLockFolderProblems(sharing.lockFolder);
    sharing.shared = sharing.reasons.empty();
    sharing.root = PreparePrivateRoot(system, PrivateRootCandidates(),
                                      sharing.shared ? RootMode::Shared : RootMode::Alone);
    if (!sharing.shared)
        sharing.lockFolder = sharing.root + "/" + kLockFolder;
    return sharing;
}
} // namespace

const EngineSharing& PrepareEmbeddedEngine() {
    std::lock_guard guard(engineLock);
    if (enginePrepared)
        return engine;
    // A folder that cannot be made safe fails the attachment; the next one tries again.
    engine = DecideEngine();
    if (!engine.root.empty())
        ::setenv("FIREBIRD", engine.root.c_str(), 1);
    if (!engine.shared && !engine.lockFolder.empty()) {
        ::setenv("FIREBIRD_LOCK", engine.lockFolder.c_str(), 1);
        std::fprintf(stderr,
                     "sorvanto: Firebird のロック フォルダを共有できないため (%s)、組み込み"
                     "エンジンはデータベース ファイルを単独で開きます (ロック フォルダ %s)\n",
                     engine.reasons.c_str(), engine.lockFolder.c_str());
    }
    enginePrepared = true;
    return engine;
}

void CheckLockFolderBeforeAttach(const std::string& database) {
    const EngineSharing& sharing = PrepareEmbeddedEngine();
    if (!sharing.shared || sharing.lockFolder.empty() || !IsLocalDatabase(database))
        return;
    if (std::string problems = SharedLockFolderProblems(sharing.lockFolder); !problems.empty())
        throw TDriverError(DriverCode::DriverInitFailed,
                           "Firebird のロック フォルダを安全に使えません (" + problems + ")");
}

namespace {
std::mutex clientsLock;
using SqlCodeFunction = ISC_LONG (*)(const ISC_STATUS*);
std::atomic<SqlCodeFunction> sqlCodeFunction{nullptr};
// By library file.
std::map<std::string, Client>& LoadedClients() {
    static std::map<std::string, Client> loaded;
    return loaded;
}
} // namespace

int SqlCodeOf(const intptr_t* errors) noexcept {
    SqlCodeFunction sqlCode = sqlCodeFunction.load();
    return sqlCode && errors
               ? static_cast<int>(sqlCode(reinterpret_cast<const ISC_STATUS*>(errors)))
               : 0;
}

void ShutdownClients() noexcept {
    std::lock_guard guard(clientsLock);
    for (auto& [file, client] : LoadedClients()) {
        Firebird::CheckStatusWrapper status(client.master->getStatus());
        // Waits for the engine's threads to end; a failure here leaves nothing to do.
        client.provider->shutdown(&status, 0, fb_shutrsn_app_stopped);
        status.dispose();
    }
}

Client& LoadClient(const std::string& vendorLib) {
    std::lock_guard guard(clientsLock);
    std::map<std::string, Client>& loaded = LoadedClients();
    std::string file = ClientLibraryFile(vendorLib);
    if (auto it = loaded.find(file); it != loaded.end())
        return it->second;

    PrepareEmbeddedEngine();
    errno = 0;
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        int code = LoadErrorCode(file, errno);
        throw TDriverError(DriverCode::DriverInitFailed,
                           vendorLib + " をロードできません (エラー コード " +
                               std::to_string(code) +
                               ")。  システム パスに含まれていない可能性があります。");
    }
    using GetMaster = Firebird::IMaster* (*)();
    auto getMaster = reinterpret_cast<GetMaster>(::dlsym(handle, "fb_get_master_interface"));
    if (!getMaster) {
        ::dlclose(handle);
        throw TDriverError(DriverCode::DriverInitFailed,
                           "プロシージャ fb_get_master_interface が見つかりません");
    }
    // Every client library works the SQL code out alike: the first one's serves.
    SqlCodeFunction sqlCode = nullptr;
    if (auto found = ::dlsym(handle, "isc_sqlcode"))
        sqlCode = reinterpret_cast<SqlCodeFunction>(found);
    SqlCodeFunction none = nullptr;
    sqlCodeFunction.compare_exchange_strong(none, sqlCode);
    Client client;
    client.handle = handle;
    client.master = getMaster();
    client.provider = client.master->getDispatcher();
    client.util = client.master->getUtilInterface();
    return loaded.emplace(file, client).first->second;
}

} // namespace fbdrv
} // namespace sorvanto
