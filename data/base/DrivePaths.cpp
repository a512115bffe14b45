#include "DrivePaths.h"

#include "ParamList.h"

#include <cstdlib>
#include <dirent.h>
#include <vector>

namespace sorvanto {

namespace {
std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The entry of folder that matches name: the exact spelling first, then any letter case.
std::string MatchEntry(const std::string& folder, std::string_view name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::string(name);
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view candidate = entry->d_name;
        if (candidate == name) {
            found = candidate;
            break;
        }
        if (found.empty() && SameText(candidate, name))
            found = candidate;
    }
    ::closedir(dir);
    return found.empty() ? std::string(name) : found;
}
} // namespace

std::string DrivesRoot() {
    std::string root = EnvOrEmpty("SORVANTO_DRIVES");
    if (!root.empty())
        return root;
    std::string dataHome = EnvOrEmpty("XDG_DATA_HOME");
    if (dataHome.empty())
        dataHome = EnvOrEmpty("HOME") + "/.local/share";
    return dataHome + "/sorvanto/drives";
}

bool IsDrivePath(std::string_view path) noexcept {
    if (path.size() < 3)
        return false;
    char letter = path[0];
    bool isLetter = (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z');
    return isLetter && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string MapDrivePath(std::string_view path) {
    if (!IsDrivePath(path))
        return std::string(path);
    char letter = path[0];
    if (letter >= 'A' && letter <= 'Z')
        letter = char(letter + 32);
    const std::string drive =
        DrivesRoot() + "/" + MatchEntry(DrivesRoot(), std::string_view(&letter, 1));
    // The folders below the drive; "." stays, ".." goes up, never above the drive itself.
    std::vector<std::string> below;
    std::string_view rest = path.substr(3);
    while (!rest.empty()) {
        size_t sep = rest.find_first_of("\\/");
        std::string_view component = rest.substr(0, sep);
        rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (!below.empty())
                below.pop_back();
            continue;
        }
        std::string folder = drive;
        for (const std::string& entry : below)
            folder += "/" + entry;
        below.push_back(MatchEntry(folder, component));
    }
    std::string mapped = drive;
    for (const std::string& entry : below)
        mapped += "/" + entry;
    return mapped;
}

std::string MapDatabasePath(std::string_view path) {
    return MapDrivePath(path);
}

} // namespace sorvanto
