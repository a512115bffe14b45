#pragma once

#include <string>
#include <string_view>

namespace sorvanto {

bool IsValidUtf8(std::string_view bytes) noexcept;

// Appends the UTF-8 form of a code point; surrogates and values past U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-16 bytes (without a byte-order mark) to UTF-8. An unpaired surrogate becomes U+FFFD and a
// trailing odd byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

// CP932 (Shift_JIS as Windows writes it) to UTF-8; a byte sequence that is not CP932 becomes
// U+FFFD.
std::string Cp932ToUtf8(std::string_view bytes);

// Length of the longest prefix of at most maxBytes bytes that ends on a UTF-8 character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes) noexcept;

// Number of UTF-16 code units the UTF-8 text takes.
size_t Utf16Length(std::string_view utf8) noexcept;

} // namespace sorvanto
