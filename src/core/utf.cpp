#include "utf.h"

namespace doredaviro::utf {

namespace {

bool IsHigh(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::size_t Decode(std::string_view s, std::size_t i, char32_t* cp, bool allowSurrogates) {
    const auto at = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    std::size_t len = 0;
    char32_t value = 0, min = 0;
    if (c < 0x80) {
        len = 1, value = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2, value = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, value = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, value = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (len > s.size() - i) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (at(i + k) & 0x3F);
    }
    if (value < min || value > 0x10FFFF) return 0;
    if (!allowSurrogates && value >= 0xD800 && value <= 0xDFFF) return 0;
    *cp = value;
    return len;
}

bool IsValid(std::string_view s) {
    char32_t cp;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = Decode(s, i, &cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

void Append(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string FromUtf16(std::u16string_view units, LoneSurrogate lone) {
    std::string out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t u = units[i];
        if (IsHigh(u) && i + 1 < units.size() && IsLow(units[i + 1])) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if ((IsHigh(u) || IsLow(u)) && lone == LoneSurrogate::Replace) {
            u = 0xFFFD;
        }
        Append(out, u);
    }
    return out;
}

std::u16string ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = Decode(text, i, &cp, true);
        if (len == 0) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        // A surrogate code point comes only from a lone surrogate kept; a pair would have been
        // written as one four-byte character, so each stands alone again.
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

}  // namespace doredaviro::utf
