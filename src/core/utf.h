#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The program's one converter between UTF-8 and UTF-16.
namespace doredaviro::utf {

// What a UTF-16 surrogate that has no partner becomes in UTF-8.
enum class LoneSurrogate {
    Keep,     // its own three-byte form, so that a Windows file name comes back exactly
    Replace,  // U+FFFD, so that the result is valid UTF-8
};

// The length of the UTF-8 sequence at `s[i]`, and its code point in `cp`; 0 when it is not
// one (overlong, past U+10FFFF, cut short). Surrogate code points count only when allowed.
std::size_t Decode(std::string_view s, std::size_t i, char32_t* cp, bool allowSurrogates = false);
bool IsValid(std::string_view s);
void Append(std::string& out, char32_t cp);

std::string FromUtf16(std::u16string_view units, LoneSurrogate lone);
// The inverse of FromUtf16 with Keep; bytes that are no UTF-8 at all become U+FFFD each.
std::u16string ToUtf16(std::string_view text);

}  // namespace doredaviro::utf
