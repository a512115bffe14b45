#include "FirebirdClient.h"

#include "Errors.h"
#include "ParamList.h"

#include <firebird/Interface.h>

#include <cerrno>
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

// The Firebird root of the installed client and engine: the folder that holds the engine plugin.
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

constexpr const char* kPrivateConf =
    "# Written by Sorvanto: the embedded engine shares database files with other processes.\n"
    "ServerMode = SuperClassic\n";

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

// Makes folder a private root: every entry of the system root linked, except firebird.conf,
// which is our own.
void FillPrivateRoot(const std::string& folder, const std::string& systemRoot) {
    std::error_code ec;
    fs::directory_iterator entries(systemRoot, ec);
    if (ec)
        Refuse(systemRoot + ": " + ec.message());
    for (const auto& entry : entries) {
        std::string name = entry.path().filename().string();
        if (name != "firebird.conf")
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
            MakeOwnFolder(folder);
            FillPrivateRoot(folder, systemRoot);
            return folder;
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
