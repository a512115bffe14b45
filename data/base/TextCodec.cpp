#include "TextCodec.h"

#include <cerrno>
#include <iconv.h>

namespace sorvanto {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[pos]; returns its length, or 0 when it is not valid.
size_t DecodeUtf8(std::string_view text, size_t pos, char32_t& codePoint) noexcept {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(pos);
    size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

struct IconvHandle {
    iconv_t handle;
    explicit IconvHandle(const char* to, const char* from) : handle(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (handle != reinterpret_cast<iconv_t>(-1))
            iconv_close(handle);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool Valid() const { return handle != reinterpret_cast<iconv_t>(-1); }
};
} // namespace

bool IsValidUtf8(std::string_view bytes) noexcept {
    char32_t codePoint;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t length = DecodeUtf8(bytes, pos, codePoint);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    size_t units = bytes.size() / 2;
    auto unit = [&](size_t i) -> char16_t {
        auto b0 = static_cast<unsigned char>(bytes[2 * i]);
        auto b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
        return bigEndian ? char16_t((b0 << 8) | b1) : char16_t((b1 << 8) | b0);
    };
    for (size_t i = 0; i < units; ++i) {
        char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            char16_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t(u));
    }
    return out;
}

std::string Cp932ToUtf8(std::string_view bytes) {
    IconvHandle cd("UTF-8", "CP932");
    std::string out;
    if (!cd.Valid()) {
        // Without a converter, keep the ASCII bytes and mark the rest.
        for (char c : bytes)
            AppendUtf8(out, static_cast<unsigned char>(c) < 0x80 ? char32_t(c) : kReplacement);
        return out;
    }
    out.reserve(bytes.size() * 3 / 2 + 16);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(cd.handle, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // An invalid or truncated sequence: mark one byte and go on after it.
            AppendUtf8(out, kReplacement);
            ++in;
            --inLeft;
            iconv(cd.handle, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

size_t Utf8PrefixLength(std::string_view text, size_t maxBytes) noexcept {
    if (text.size() <= maxBytes)
        return text.size();
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return end;
}

size_t Utf16Length(std::string_view utf8) noexcept {
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80)
            ++units;
        if ((c & 0xF8) == 0xF0)
            ++units; // four-byte sequences take a surrogate pair
    }
    return units;
}

} // namespace sorvanto
