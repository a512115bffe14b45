#include "CharacterSets.h"

#include "ParamList.h"
#include "TextCodec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <memory>
#include <unordered_map>

namespace sorvanto {

namespace {

using Range = TCharSet::Range;

// Where glibc's converter and the engine's tables read bytes differently, measured for every
// character of each set (the character set tests measure them again against the engine).
constexpr Range kSjisDisputed[] = {{0xFF3C, 0xFF3C}};
// The engine's SJIS_0208 holds the backslash as the full-width one of JIS X 0208 (0x5C is the
// yen sign there, as in glibc's).
constexpr TCharSet::Override kSjisOverrides[] = {{"\x81\x5F", 0x5C}};
// No half-width kana (SS2) and no C1 controls in the engine's EUCJ_0208.
constexpr Range kEucjDisputed[] = {
    {0x0080, 0x008D}, {0x0090, 0x009F}, {0xFF3C, 0xFF3C}, {0xFF61, 0xFF9F}};
// The engine's ISO8859_7 is the 1987 edition; its ISO8859_8 has no direction marks.
constexpr Range kIso7Disputed[] = {
    {0x037A, 0x037A}, {0x2018, 0x2019}, {0x20AC, 0x20AC}, {0x20AF, 0x20AF}};
constexpr Range kIso8Disputed[] = {{0x00AF, 0x00AF}, {0x200E, 0x200F}};
constexpr Range kKscDisputed[] = {{0x00AE, 0x00AE}, {0x20AC, 0x20AC}};
// The engine's BIG_5 is the older mapping: no ETEN extensions, other forms in a few places.
constexpr Range kBig5Disputed[] = {
    {0x0080, 0x0080}, {0x00AF, 0x00AF}, {0x02CD, 0x02CD}, {0x2027, 0x2027}, {0x20AC, 0x20AC},
    {0x2215, 0x2215}, {0x2295, 0x2295}, {0x2299, 0x2299}, {0x2550, 0x2570}, {0x2574, 0x2574},
    {0x2593, 0x2593}, {0x5341, 0x5341}, {0x5345, 0x5345}, {0x58BB, 0x58BB}, {0x5AFA, 0x5AFA},
    {0x6052, 0x6052}, {0x7881, 0x7881}, {0x7CA7, 0x7CA7}, {0x88CF, 0x88CF}, {0x92B9, 0x92B9},
    {0xF6B1, 0xF848}, {0xFE51, 0xFE51}, {0xFE68, 0xFE68}, {0xFF0F, 0xFF0F}, {0xFF3C, 0xFF3C},
    {0xFF5E, 0xFF5E}, {0xFFE0, 0xFFE1}, {0xFFE3, 0xFFE3}, {0xFFE5, 0xFFE5}};
// The engine's KOI8U reads 0xAE and 0xBE as the Belarusian short u.
constexpr Range kKoi8uDisputed[] = {{0x255D, 0x255D}, {0x256C, 0x256C}};
constexpr Range kCp943Disputed[] = {
    {0x00A6, 0x00A6}, {0x2014, 0x2014}, {0x2016, 0x2016}, {0x2212, 0x2212}, {0x301C, 0x301C}};
// The engine's GB18030 is the 2000 edition (private-use code points where 2005 has characters).
constexpr Range kGb18030Disputed[] = {{0x9FB4, 0x9FBB},   {0xFE10, 0xFE19},   {0x20087, 0x20087},
                                      {0x20089, 0x20089}, {0x200CC, 0x200CC}, {0x215D7, 0x215D7},
                                      {0x2298F, 0x2298F}, {0x241FE, 0x241FE}};

constexpr TCharSet kCharSets[] = {
    {0, "NONE", 1, nullptr, {}, 0},
    {1, "OCTETS", 1, nullptr, {}, 0},
    {2, "ASCII", 1, "ASCII", {}, 0},
    {3, "UNICODE_FSS", 3, nullptr, {}, 0xF0},
    {4, "UTF8", 4, nullptr, {}, 0},
    {5, "SJIS_0208", 2, "SHIFT_JIS", kSjisDisputed, 0, kSjisOverrides},
    {6, "EUCJ_0208", 2, "EUC-JP", kEucjDisputed, 0x8F},
    {9, "DOS737", 1, "CP737", {}, 0},
    {10, "DOS437", 1, "CP437", {}, 0},
    {11, "DOS850", 1, "CP850", {}, 0},
    {12, "DOS865", 1, "CP865", {}, 0},
    {13, "DOS860", 1, "CP860", {}, 0},
    {14, "DOS863", 1, "CP863", {}, 0},
    {15, "DOS775", 1, "CP775", {}, 0},
    {16, "DOS858", 1, "CP858", {}, 0},
    {17, "DOS862", 1, "CP862", {}, 0},
    {18, "DOS864", 1, "CP864", {}, 0},
    {19, "NEXT", 1, nullptr, {}, 0}, // glibc has no NeXTSTEP converter: ASCII only
    {21, "ISO8859_1", 1, "ISO-8859-1", {}, 0},
    {22, "ISO8859_2", 1, "ISO-8859-2", {}, 0},
    {23, "ISO8859_3", 1, "ISO-8859-3", {}, 0},
    {34, "ISO8859_4", 1, "ISO-8859-4", {}, 0},
    {35, "ISO8859_5", 1, "ISO-8859-5", {}, 0},
    {36, "ISO8859_6", 1, "ISO-8859-6", {}, 0},
    {37, "ISO8859_7", 1, "ISO-8859-7", kIso7Disputed, 0},
    {38, "ISO8859_8", 1, "ISO-8859-8", kIso8Disputed, 0},
    {39, "ISO8859_9", 1, "ISO-8859-9", {}, 0},
    {40, "ISO8859_13", 1, "ISO-8859-13", {}, 0},
    {44, "KSC_5601", 2, "CP949", kKscDisputed, 0},
    {45, "DOS852", 1, "CP852", {}, 0},
    {46, "DOS857", 1, "CP857", {}, 0},
    {47, "DOS861", 1, "CP861", {}, 0},
    {48, "DOS866", 1, "CP866", {}, 0},
    {49, "DOS869", 1, "CP869", {}, 0},
    {50, "CYRL", 1, "CP1251", {}, 0},
    {51, "WIN1250", 1, "CP1250", {}, 0},
    {52, "WIN1251", 1, "CP1251", {}, 0},
    {53, "WIN1252", 1, "CP1252", {}, 0},
    {54, "WIN1253", 1, "CP1253", {}, 0},
    {55, "WIN1254", 1, "CP1254", {}, 0},
    {56, "BIG_5", 2, "BIG5", kBig5Disputed, 0},
    {57, "GB_2312", 2, "GB2312", {}, 0},
    {58, "WIN1255", 1, "CP1255", {}, 0},
    {59, "WIN1256", 1, "CP1256", {}, 0},
    {60, "WIN1257", 1, "CP1257", {}, 0},
    {63, "KOI8R", 1, "KOI8-R", {}, 0},
    {64, "KOI8U", 1, "KOI8-U", kKoi8uDisputed, 0},
    {65, "WIN1258", 1, "CP1258", {}, 0},
    {66, "TIS620", 1, "TIS-620", {}, 0},
    {67, "GBK", 2, "GBK", {}, 0},
    {68, "CP943C", 2, "IBM943", kCp943Disputed, 0},
    {69, "GB18030", 4, "GB18030", kGb18030Disputed, 0},
};

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[pos]; its length, or 0 when it is not valid.
std::size_t NextCodePoint(std::string_view text, std::size_t pos, char32_t& cp) noexcept {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0)
        length = 2, minimum = 0x80, cp = lead & 0x1F;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, minimum = 0x800, cp = lead & 0x0F;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, minimum = 0x10000, cp = lead & 0x07;
    else
        return 0;
    if (pos + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

// Sets whose bytes are taken as UTF-8 here: UTF8 and UNICODE_FSS, and NONE and OCTETS, whose
// bytes a caller hands over only when it takes them as UTF-8.
bool TakenAsUtf8(const TCharSet& set) noexcept {
    return IsUtf8CharSet(set) || set.id == kCharSetNone || set.id == kCharSetOctets;
}

// The longest UTF-8 sequence such a set takes: UNICODE_FSS has no characters past U+FFFF.
std::size_t Utf8Limit(const TCharSet& set) noexcept {
    return set.id == 3 ? 3 : 4;
}

bool Disputed(const TCharSet& set, char32_t cp) noexcept {
    auto it = std::upper_bound(set.disputed.begin(), set.disputed.end(), cp,
                               [](char32_t c, const Range& r) { return c < r.first; });
    return it != set.disputed.begin() && cp <= std::prev(it)->last;
}

// The two converters of one set, opened once per thread: a converter keeps state while it works,
// so no two threads may share one.
struct Converters {
    iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
    iconv_t fromUtf8 = reinterpret_cast<iconv_t>(-1);
    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters() {
        for (iconv_t cd : {toUtf8, fromUtf8})
            if (cd != reinterpret_cast<iconv_t>(-1))
                iconv_close(cd);
    }
};

Converters& ConvertersOf(const TCharSet& set) {
    thread_local std::unordered_map<int, std::unique_ptr<Converters>> open;
    std::unique_ptr<Converters>& c = open[set.id];
    if (!c) {
        c = std::make_unique<Converters>();
        c->toUtf8 = iconv_open("UTF-8", set.converter);
        c->fromUtf8 = iconv_open(set.converter, "UTF-8");
    }
    return *c;
}

// How a conversion ended.
enum class Converted { Whole, Invalid, Incomplete };

// Converts the whole input, then flushes what a converter that combines characters holds back.
// Otherwise `stop` is the input offset of the sequence the converter refused, or of the
// incomplete one it ended with.
Converted Convert(iconv_t cd, std::string_view in, std::string& out, std::size_t& stop) {
    out.clear();
    stop = 0;
    if (cd == reinterpret_cast<iconv_t>(-1))
        return in.empty() ? Converted::Whole : Converted::Invalid;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char buffer[1024];
    for (;;) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        // With the input consumed, a call without input flushes.
        const bool flushing = inLeft == 0;
        std::size_t rc = flushing ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                  : iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1)) {
            if (flushing)
                return Converted::Whole;
            continue;
        }
        if (error == E2BIG)
            continue;
        stop = static_cast<std::size_t>(inPtr - in.data());
        return error == EINVAL ? Converted::Incomplete : Converted::Invalid;
    }
}

const TCharSet::Override* OverrideOf(const TCharSet& set, char32_t cp) noexcept {
    for (const TCharSet::Override& o : set.overrides)
        if (o.character == cp)
            return &o;
    return nullptr;
}

// One character's bytes in the set, when it has them as the engine does.
bool EncodeOne(const TCharSet& set, char32_t cp, std::string& bytes) {
    if (const TCharSet::Override* o = OverrideOf(set, cp)) {
        bytes.assign(o->bytes);
        return true;
    }
    if (Disputed(set, cp))
        return false;
    std::string utf8;
    AppendUtf8(utf8, cp);
    std::size_t stop = 0;
    std::string back;
    // A one-way mapping of the converter (glibc writes "~" as the byte it reads as "‾") is no
    // mapping.
    if (Convert(ConvertersOf(set).fromUtf8, utf8, bytes, stop) != Converted::Whole ||
        Convert(ConvertersOf(set).toUtf8, bytes, back, stop) != Converted::Whole || back != utf8)
        return false;
    return !bytes.empty() && bytes.size() <= static_cast<std::size_t>(set.bytesPerCharacter) &&
           (set.longSequenceLead == 0 ||
            static_cast<unsigned char>(bytes[0]) != set.longSequenceLead);
}

// Reads the bytes character by character, each checked against its own bytes: the slow way,
// for a value whose whole reading did not give its bytes back. Bytes that are no character are
// marked with one U+FFFD for each sequence the converter takes as one character (a lead byte
// with its trail), else for each byte.
bool DecodeEach(const TCharSet& set, std::string_view bytes, std::string& out) {
    out.clear();
    bool exact = true;
    std::string utf8, back;
    for (std::size_t pos = 0; pos < bytes.size();) {
        std::size_t taken = 0;
        std::size_t marked = 1;
        for (const TCharSet::Override& o : set.overrides)
            if (bytes.substr(pos, o.bytes.size()) == o.bytes) {
                AppendUtf8(out, o.character);
                taken = o.bytes.size();
            }
        for (std::size_t n = 1; n <= 4 && pos + n <= bytes.size() && !taken; ++n) {
            std::size_t stop = 0;
            char32_t cp;
            const Converted result =
                Convert(ConvertersOf(set).toUtf8, bytes.substr(pos, n), utf8, stop);
            if (result == Converted::Incomplete)
                continue; // a lead byte: its character needs more
            if (n > 1)
                marked = n;
            if (result == Converted::Whole && !utf8.empty() &&
                NextCodePoint(utf8, 0, cp) == utf8.size() && EncodeOne(set, cp, back) &&
                back == bytes.substr(pos, n)) {
                out += utf8;
                taken = n;
            }
            break;
        }
        if (!taken) {
            AppendUtf8(out, kReplacement);
            exact = false;
            taken = marked;
        }
        pos += taken;
    }
    return exact;
}

// UTF-8 as it is, each sequence that is not UTF-8 (or longer than the set takes) marked.
bool CheckUtf8(const TCharSet& set, std::string_view bytes, std::string& out) {
    out.clear();
    bool exact = true;
    char32_t cp;
    for (std::size_t pos = 0; pos < bytes.size();) {
        std::size_t length = NextCodePoint(bytes, pos, cp);
        if (length == 0 || length > Utf8Limit(set)) {
            AppendUtf8(out, kReplacement);
            exact = false;
            pos += length == 0 ? 1 : length;
            continue;
        }
        out.append(bytes.substr(pos, length));
        pos += length;
    }
    return exact;
}
} // namespace

std::span<const TCharSet> AllCharSets() noexcept {
    return kCharSets;
}

const TCharSet* CharSetById(int id) noexcept {
    // Looked up for every text parameter of an apply: by number, not by search.
    static const auto byId = [] {
        std::array<const TCharSet*, 256> table{};
        for (const TCharSet& set : kCharSets)
            table[static_cast<std::size_t>(set.id)] = &set;
        return table;
    }();
    return id >= 0 && id < static_cast<int>(byId.size()) ? byId[static_cast<std::size_t>(id)]
                                                         : nullptr;
}

const TCharSet* CharSetByName(std::string_view name) noexcept {
    for (const TCharSet& set : kCharSets)
        if (SameText(set.name, name))
            return &set;
    return nullptr;
}

bool IsUtf8CharSet(const TCharSet& set) noexcept {
    return set.id == kCharSetUtf8 || set.id == 3;
}

bool DecodeText(const TCharSet& set, std::string_view bytes, std::string& out) {
    if (TakenAsUtf8(set)) {
        if (Utf8Limit(set) == 4 && IsValidUtf8(bytes)) {
            out.assign(bytes);
            return true;
        }
        return CheckUtf8(set, bytes, out);
    }
    if (!set.converter) {
        out.clear();
        bool exact = true;
        for (char c : bytes) {
            bool ascii = static_cast<unsigned char>(c) < 0x80;
            AppendUtf8(out, ascii ? char32_t(c) : kReplacement);
            exact = exact && ascii;
        }
        return exact;
    }
    std::size_t stop = 0;
    bool whole = Convert(ConvertersOf(set).toUtf8, bytes, out, stop) == Converted::Whole;
    for (const TCharSet::Override& o : set.overrides)
        whole = whole && bytes.find(o.bytes) == std::string_view::npos;
    if (whole && set.longSequenceLead &&
        bytes.find(static_cast<char>(set.longSequenceLead)) != std::string_view::npos)
        whole = false;
    if (whole && !set.disputed.empty()) {
        char32_t cp;
        for (std::size_t pos = 0; pos < out.size() && whole;) {
            std::size_t length = NextCodePoint(out, pos, cp);
            whole = length != 0 && !Disputed(set, cp);
            pos += length ? length : 1;
        }
    }
    if (whole) {
        // Bytes that two characters share read as one of them: only a value that gives its own
        // bytes back is read as it is.
        std::string back;
        if (Convert(ConvertersOf(set).fromUtf8, out, back, stop) == Converted::Whole &&
            back == bytes)
            return true;
    }
    return DecodeEach(set, bytes, out);
}

bool EncodeText(const TCharSet& set, std::string_view utf8, std::string& out, char32_t& refused) {
    out.clear();
    char32_t cp;
    // Every character is checked first, so that the one named is the first refused.
    for (std::size_t pos = 0; pos < utf8.size();) {
        std::size_t length = NextCodePoint(utf8, pos, cp);
        if (length == 0) {
            refused = kReplacement;
            return false;
        }
        bool held = true;
        if (TakenAsUtf8(set))
            held = length <= Utf8Limit(set);
        else if (!set.converter)
            held = cp < 0x80;
        else
            held = !Disputed(set, cp);
        if (!held) {
            refused = cp;
            return false;
        }
        pos += length;
    }
    if (TakenAsUtf8(set) || !set.converter) {
        out.assign(utf8);
        return true;
    }
    bool overridden = false;
    for (std::size_t pos = 0; pos < utf8.size();) {
        pos += NextCodePoint(utf8, pos, cp);
        overridden = overridden || OverrideOf(set, cp);
    }
    std::size_t stop = 0;
    if (!overridden && Convert(ConvertersOf(set).fromUtf8, utf8, out, stop) == Converted::Whole) {
        std::string back;
        if (DecodeText(set, out, back) && back == utf8)
            return true;
    }
    // Character by character: each one's own bytes, or the first that has none names the
    // refusal.
    out.clear();
    std::string bytes;
    for (std::size_t pos = 0; pos < utf8.size();) {
        std::size_t length = NextCodePoint(utf8, pos, cp);
        if (!EncodeOne(set, cp, bytes)) {
            refused = cp;
            return false;
        }
        out += bytes;
        pos += length;
    }
    std::string back;
    if (DecodeText(set, out, back) && back == utf8)
        return true;
    refused = kReplacement;
    return false;
}

std::string RefusedCharacterText(char32_t character, const TCharSet& set) {
    std::string shown;
    AppendUtf8(shown, character);
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(character));
    return "文字 '" + shown + "' (" + code + ") は文字セット " + std::string(set.name) +
           " にありません";
}

} // namespace sorvanto
