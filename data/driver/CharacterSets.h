#pragma once

#include <span>
#include <string>
#include <string_view>

namespace sorvanto {

// A character set of the database engine and the converter that turns its text into UTF-8 and
// back. Text leaves and enters the database through these two functions only.
struct TCharSet {
    // A run of code points from first to last.
    struct Range {
        char32_t first;
        char32_t last;
    };
    int id;                // the engine's number (RDB$CHARACTER_SET_ID)
    std::string_view name; // the engine's name
    int bytesPerCharacter; // the longest character the engine holds in it
    // glibc's iconv name of the encoding that reads every character of the set as the engine
    // does; null for UTF-8 (no conversion) and for sets glibc has no converter of, whose
    // characters past ASCII are then neither read nor written.
    const char* converter;
    // Characters that the converter reads from bytes the engine reads as something else, or
    // not at all: never read from those bytes, never written (the engine and every other client
    // would see another character).
    std::span<const Range> disputed;
    // A byte that starts a sequence longer than the engine's characters (JIS X 0212 in EUC-JP,
    // characters past U+FFFF in UNICODE_FSS): such sequences are not of the set. 0 for none.
    unsigned char longSequenceLead;
    // A character the engine reads from and writes to other bytes than the converter does, in
    // both directions.
    struct Override {
        std::string_view bytes;
        char32_t character;
    };
    std::span<const Override> overrides = {};
};

inline constexpr int kCharSetNone = 0;
inline constexpr int kCharSetOctets = 1;
inline constexpr int kCharSetUtf8 = 4;

// The engine's character set of that number or name (names without regard to letter case);
// null when there is none. NONE and OCTETS are listed: they hold bytes, not characters.
const TCharSet* CharSetById(int id) noexcept;
const TCharSet* CharSetByName(std::string_view name) noexcept;
// Every character set of the engine's international module, NONE and OCTETS included.
std::span<const TCharSet> AllCharSets() noexcept;

// True for the sets whose bytes are UTF-8 already (UTF8, UNICODE_FSS).
bool IsUtf8CharSet(const TCharSet& set) noexcept;

// Reads text of the set into UTF-8. True when every byte belongs to a character of the set that
// reads back to the same bytes; otherwise `out` has U+FFFD for each byte (or character) that
// does not, and the bytes cannot be given back from `out`.
bool DecodeText(const TCharSet& set, std::string_view bytes, std::string& out);

// Writes UTF-8 text in the set. False when a character cannot be held there as the engine holds
// it: `refused` then names the first such character (U+FFFD for bytes that are not UTF-8).
bool EncodeText(const TCharSet& set, std::string_view utf8, std::string& out, char32_t& refused);

// The message for a character a set cannot hold: "文字 'X' (U+XXXX) は文字セット S にありません".
std::string RefusedCharacterText(char32_t character, const TCharSet& set);

} // namespace sorvanto
