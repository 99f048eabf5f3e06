// The settings reader on Windows: the system's own ANSI function, with the program's UTF-8 on
// both sides of it.

#include "core/settings_reader.h"
#include "core/utf.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace doredaviro {

// One byte of the code page can take three of UTF-8.
const unsigned kProfileValueBufferSize = 3 * 199 + 1;

namespace {

constexpr int kValueSize = 200;

std::wstring FromCodePage(UINT codePage, const char* text, int length) {
    if (length <= 0) return {};
    const int n = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text, length, out.data(), n);
    return out;
}

std::string ToUtf8(const std::wstring& wide) {
    return utf::FromUtf16({reinterpret_cast<const char16_t*>(wide.data()), wide.size()},
                          utf::LoneSurrogate::Keep);
}

std::wstring FromUtf8(const std::string& text) {
    const std::u16string wide = utf::ToUtf16(text);
    return {reinterpret_cast<const wchar_t*>(wide.data()), wide.size()};
}

// False when the ANSI code page cannot spell `text` exactly: a best-fit stand-in such as `e` for
// `é` would name another file or section.
bool ToAnsi(const std::string& utf8, std::string* out) {
    out->clear();
    const std::string c = utf8.c_str();  // the API sees a C string
    if (c.empty()) return true;
    const std::wstring wide = FromUtf8(c);
    if (wide.empty()) return false;
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    out->resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        out->data(), n, nullptr, &lossy);
    return !lossy && FromCodePage(CP_ACP, out->data(), n) == wide;
}

// A folder named in characters the ANSI code page lacks is still reachable by its short name,
// where the volume keeps short names.
bool FileToAnsi(const std::string& utf8, std::string* out) {
    if (ToAnsi(utf8, out)) return true;
    const std::wstring wide = FromUtf8(utf8.c_str());
    const DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring shortName(n, L'\0');
    const DWORD written = GetShortPathNameW(wide.c_str(), shortName.data(), n);
    if (written == 0 || written >= n) return false;
    shortName.resize(written);
    return ToAnsi(ToUtf8(shortName), out);
}

// Bytes up to the first NUL, less a lead byte left without its trail byte by a cut.
int WholeAnsiLength(const char* text, int size) {
    int i = 0, whole = 0;
    while (i < size && text[i] != '\0') {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i]))) {
            if (i + 1 >= size || text[i + 1] == '\0') break;
            i += 2;
        } else {
            ++i;
        }
        whole = i;
    }
    return whole;
}

unsigned CopyOut(const std::string& value, char* buffer, unsigned size) {
    std::size_t n = value.find('\0');
    if (n == std::string::npos) n = value.size();
    if (n > size - 1) {
        n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<unsigned>(n);
}

}  // namespace

unsigned ReadProfileString(const std::string& section, const std::string& key,
                           const std::string& def, char* buffer, unsigned size,
                           const std::string& file) {
    if (buffer == nullptr || size == 0) return 0;
    try {
        std::string ansiSection, ansiKey, ansiFile, ansiDefault;
        if (!ToAnsi(section, &ansiSection) || !ToAnsi(key, &ansiKey) ||
            !FileToAnsi(file, &ansiFile) || !ToAnsi(def, &ansiDefault)) {
            return CopyOut(def, buffer, size);
        }
        // Zeroed, and read up to the first NUL rather than trusting the count: a double-byte
        // character cut at the end can leave the count one past what was written.
        char value[kValueSize] = {};
        GetPrivateProfileStringA(ansiSection.c_str(), ansiKey.c_str(), ansiDefault.c_str(), value,
                                 kValueSize, ansiFile.c_str());
        const int length = WholeAnsiLength(value, kValueSize - 1);
        return CopyOut(ToUtf8(FromCodePage(CP_ACP, value, length)), buffer, size);
    } catch (...) {
        // Out of memory: the default, as for an unreadable file.
        return CopyOut(def.c_str(), buffer, size);
    }
}

}  // namespace doredaviro
