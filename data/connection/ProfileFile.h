#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvanto {

// A connection profile file (INI text), read whole. Read only: the system never writes it.
class TProfileFile {
public:
    struct Section {
        std::string name;
        std::vector<std::string> lines; // entries as "name=value", other lines unchanged
    };

    // Parses file contents: byte-order marks, CR/LF/CRLF line ends, trimming, comments, sections.
    static TProfileFile Parse(std::string_view bytes);

    // The largest file Read accepts, in bytes.
    static constexpr std::size_t kMaxSize = 1 << 20;

    // Reads a file. A file that does not exist reads as a file without sections and Exists() is
    // false. A file that exists but cannot be read, is not a regular file (a folder, a FIFO, a
    // device) or is larger than kMaxSize raises EFOpenError naming it; nothing waits on it.
    static TProfileFile Read(const std::string& path);

    bool Exists() const noexcept { return exists_; }
    const std::vector<Section>& Sections() const noexcept { return sections_; }

    // The lines of the last section whose name matches without regard to letter case.
    std::optional<std::vector<std::string>> SectionLines(std::string_view name) const;

private:
    std::vector<Section> sections_;
    bool exists_ = true;
};

// Decodes profile file bytes to UTF-8 text: a UTF-16 LE/BE or UTF-8 byte-order mark selects
// that encoding; without one the bytes are UTF-8 when valid, CP932 otherwise.
std::string DecodeProfileText(std::string_view bytes);

} // namespace sorvanto
