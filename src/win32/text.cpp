#include "win32/text.h"

#include "core/utf.h"

namespace doredaviro::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

std::string Narrow(const wchar_t* text, std::size_t length) {
    return utf::FromUtf16({reinterpret_cast<const char16_t*>(text), length},
                          utf::LoneSurrogate::Keep);
}

std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

std::wstring Widen(const std::string& text) {
    const std::u16string wide = utf::ToUtf16(text);
    return {reinterpret_cast<const wchar_t*>(wide.data()), wide.size()};
}

}  // namespace doredaviro::win32
