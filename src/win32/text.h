#pragma once

#include <string>

namespace doredaviro::win32 {

// UTF-16 as the core's UTF-8. A lone surrogate, which a Windows file name may hold, is kept as
// its own three-byte form, so that Widen gives back exactly the name it came from.
std::string Narrow(const std::wstring& text);
std::string Narrow(const wchar_t* text, std::size_t length);
// The inverse of Narrow; bytes that are no UTF-8 at all become U+FFFD.
std::wstring Widen(const std::string& text);

}  // namespace doredaviro::win32
