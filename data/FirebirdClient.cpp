#include "FirebirdClient.h"

#include "Errors.h"
#include "ParamList.h"

#include <firebird/Interface.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
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

constexpr const char* kPrivateConf =
    "# Written by Sorvanto: the embedded engine shares database files with other processes.\n"
    "ServerMode = SuperClassic\n";

// The root inside a candidate folder. Earlier versions used the candidate itself as the root,
// with intl linked to the installed folder, and relink it there at every start; such a version
// may still be running, so this layout lives beside it. The name changes with any change of
// layout that an older version would undo.
constexpr const char* kRootFolder = "root2";

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
// which is our own, and intl, which is a folder of our own.
void FillPrivateRoot(const std::string& folder, const std::string& systemRoot) {
    CheckLoadable(folder);
    std::error_code ec;
    fs::directory_iterator entries(systemRoot, ec);
    if (ec)
        Refuse(systemRoot + ": " + ec.message());
    for (const auto& entry : entries) {
        std::string name = entry.path().filename().string();
        if (name == "intl" && entry.is_directory(ec))
            FillLibraryFolder((fs::path(folder) / name).string(), entry.path().string());
        else if (name != "firebird.conf")
            PointLinkAt(fs::path(folder) / name, entry.path());
    }
    fs::path conf = fs::path(folder) / "firebird.conf";
    if (ReadOwnFile(conf) != kPrivateConf)
        WriteOwnFile(conf, kPrivateConf);
    if (ReadOwnFile(conf) != kPrivateConf)
        Refuse(conf.string() + ": 書き込んだ内容を読み戻せません");
    // Nothing may have changed hands while we worked.
    CheckOwnFolder(folder);
}

// The candidate folder made ours, by its real path: the engine compares the module paths it
// builds from the root with their real paths, so the root is named without links, "." or "..".
std::string MakeRootIn(const std::string& candidate) {
    MakeOwnFolder(candidate);
    char real[PATH_MAX];
    if (!::realpath(candidate.c_str(), real))
        RefuseErrno(candidate, errno);
    CheckOwnFolder(real);
    std::string root = std::string(real) + "/" + kRootFolder;
    MakeOwnFolder(root);
    return root;
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
                               const std::vector<std::string>& candidates) {
    std::string reasons;
    for (const std::string& folder : candidates) {
        try {
            std::string root = MakeRootIn(folder);
            FillPrivateRoot(root, systemRoot);
            return root;
        } catch (const RootRefused& refused) {
            reasons += std::string(reasons.empty() ? "" : "; ") + refused.what();
        }
    }
    throw TDriverError(DriverCode::DriverInitFailed,
                       "組み込みデータベース エンジンのフォルダを用意できません (" + reasons + ")");
}

std::string PrepareEmbeddedRoot() {
    static std::mutex lock;
    static bool prepared = false;
    static std::string root;
    std::lock_guard guard(lock);
    if (prepared)
        return root;
    const char* own = std::getenv("FIREBIRD");
    if (own && *own) {
        root = own;
    } else if (std::string system = SystemFirebirdRoot(); !system.empty()) {
        // A folder that cannot be made safe fails the attachment; the next one tries again.
        root = PreparePrivateRoot(system, PrivateRootCandidates());
        ::setenv("FIREBIRD", root.c_str(), 1);
    }
    // Without a system root the client library finds its compiled-in one.
    prepared = true;
    return root;
}

namespace {
std::mutex clientsLock;
// By library file.
std::map<std::string, Client>& LoadedClients() {
    static std::map<std::string, Client> loaded;
    return loaded;
}
} // namespace

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

    PrepareEmbeddedRoot();
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
    Client client;
    client.handle = handle;
    client.master = getMaster();
    client.provider = client.master->getDispatcher();
    client.util = client.master->getUtilInterface();
    return loaded.emplace(file, client).first->second;
}

} // namespace fbdrv
} // namespace sorvanto
