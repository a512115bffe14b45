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
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
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

std::string PrivateRootFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && ::access(runtime, W_OK) == 0)
        return std::string(runtime) + "/sorvanto-firebird";
    return "/tmp/sorvanto-firebird-" + std::to_string(::getuid());
}

constexpr const char* kPrivateConf =
    "# Written by Sorvanto: the embedded engine shares database files with other processes.\n"
    "ServerMode = SuperClassic\n";

void WriteFileAtomically(const fs::path& path, const std::string& content) {
    fs::path temp = path;
    temp += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec)
        fs::remove(temp, ec);
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

std::string PrepareEmbeddedRoot() {
    static std::once_flag once;
    static std::string root;
    std::call_once(once, [] {
        const char* own = std::getenv("FIREBIRD");
        if (own && *own) {
            root = own;
            return;
        }
        std::string system = SystemFirebirdRoot();
        if (system.empty())
            return; // let the client library find its compiled-in root
        fs::path folder = PrivateRootFolder();
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec)
            return;
        for (const auto& entry : fs::directory_iterator(system, ec)) {
            std::string name = entry.path().filename().string();
            if (name == "firebird.conf")
                continue;
            fs::path link = folder / name;
            std::error_code linkError;
            if (!fs::exists(fs::symlink_status(link, linkError)))
                fs::create_symlink(entry.path(), link, linkError);
        }
        fs::path conf = folder / "firebird.conf";
        std::ifstream in(conf, std::ios::binary);
        std::string current((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (current != kPrivateConf)
            WriteFileAtomically(conf, kPrivateConf);
        root = folder.string();
        ::setenv("FIREBIRD", root.c_str(), 1);
    });
    return root;
}

Client& LoadClient(const std::string& vendorLib) {
    static std::mutex lock;
    static std::map<std::string, Client> loaded;
    std::lock_guard guard(lock);
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
