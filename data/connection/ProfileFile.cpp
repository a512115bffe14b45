#include "ProfileFile.h"

#include "Errors.h"
#include "ParamList.h"
#include "TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvanto {

namespace {
// The UTF-8 text with every byte that starts no valid sequence replaced by U+FFFD.
std::string ReplaceInvalidUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t length = 1;
        while (length <= 4 && !IsValidUtf8(bytes.substr(pos, length)))
            ++length;
        if (length > 4) {
            AppendUtf8(out, 0xFFFD);
            ++pos;
        } else {
            out.append(bytes.substr(pos, length));
            pos += length;
        }
    }
    return out;
}
} // namespace

std::string DecodeProfileText(std::string_view bytes) {
    auto startsWith = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (startsWith("\xFF\xFE"))
        return Utf16ToUtf8(bytes.substr(2), false);
    if (startsWith("\xFE\xFF"))
        return Utf16ToUtf8(bytes.substr(2), true);
    if (startsWith("\xEF\xBB\xBF"))
        return ReplaceInvalidUtf8(bytes.substr(3));
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    return Cp932ToUtf8(bytes);
}

TProfileFile TProfileFile::Parse(std::string_view bytes) {
    TProfileFile file;
    const std::string text = DecodeProfileText(bytes);
    std::string_view rest = text;
    Section* current = nullptr;
    while (!rest.empty()) {
        size_t end = rest.find_first_of("\r\n");
        std::string_view raw = rest.substr(0, end);
        if (end == std::string_view::npos) {
            rest = {};
        } else {
            size_t next = end + 1;
            if (rest[end] == '\r' && next < rest.size() && rest[next] == '\n')
                ++next;
            rest.remove_prefix(next);
        }
        std::string_view line = TrimControls(raw);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            file.sections_.push_back(
                {std::string(TrimControls(line.substr(1, line.size() - 2))), {}});
            current = &file.sections_.back();
            continue;
        }
        if (!current)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            current->lines.emplace_back(line);
        } else {
            std::string entry(TrimControls(line.substr(0, eq)));
            entry += '=';
            entry += TrimControls(line.substr(eq + 1));
            current->lines.push_back(std::move(entry));
        }
    }
    return file;
}

TProfileFile TProfileFile::Read(const std::string& path) {
    auto openError = [&](const std::string& reason) {
        std::error_code ec;
        std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
        if (ec)
            full = path;
        return EFOpenError("ファイル " + full + " は開けません。 " + reason + " ");
    };
    // Opening does not wait: a FIFO without a writer or a device opens at once, and is then
    // refused below without a byte read from it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            TProfileFile missing;
            missing.exists_ = false;
            return missing;
        }
        throw openError(std::strerror(error));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw openError(std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        throw openError(std::strerror(EISDIR));
    if (!S_ISREG(info.st_mode))
        throw openError("通常のファイルではありません");
    const std::string tooLarge =
        "ファイルが大きすぎます (上限 " + std::to_string(kMaxSize) + " バイト)";
    if (info.st_size > static_cast<off_t>(kMaxSize))
        throw openError(tooLarge);
    // Room for the file's size and one byte more; should the file grow while it is read, the
    // room grows too, up to one byte past the limit, which is enough to refuse it.
    std::string bytes(static_cast<size_t>(info.st_size) + 1, '\0');
    size_t length = 0;
    for (;;) {
        if (length == bytes.size()) {
            if (bytes.size() > kMaxSize)
                break;
            bytes.resize(std::min(bytes.size() * 2, kMaxSize + 1));
        }
        ssize_t n = ::read(fd, bytes.data() + length, bytes.size() - length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw openError(std::strerror(errno));
        }
        if (n == 0)
            break;
        length += static_cast<size_t>(n);
    }
    if (length > kMaxSize)
        throw openError(tooLarge);
    bytes.resize(length);
    return Parse(bytes);
}

std::optional<std::vector<std::string>> TProfileFile::SectionLines(std::string_view name) const {
    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it)
        if (SameText(it->name, name))
            return it->lines;
    return std::nullopt;
}

} // namespace sorvanto
