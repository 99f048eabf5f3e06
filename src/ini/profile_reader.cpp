// Settings-file reader for platforms without the Windows one. It gives the answers the Windows
// reader gives for files people write by hand or bring from Windows, and returns the value's
// bytes as stored: on Linux a path is its bytes, so nothing is re-encoded except UTF-16.

#include "core/settings_reader.h"
#include "core/utf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace doredaviro {

// Values come back as stored: 199 bytes and the NUL.
const unsigned kProfileValueBufferSize = 200;

namespace {

// A settings file is a few lines; anything this large is not one, and reading it all would only
// risk the memory of the whole program.
constexpr size_t kMaxFileSize = size_t{64} << 20;

bool IsBlank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }
bool IsLineEnd(unsigned char c) { return c == '\r' || c == '\n'; }
bool IsCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsCp932Trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
unsigned char At(std::string_view s, size_t i) { return static_cast<unsigned char>(s[i]); }

// Length of the character at s[i]. In a CP932 file a trail byte can look like `[`, `]` or `\`
// and a letter, so a lead byte always takes its trail byte with it.
size_t CharLen(std::string_view s, size_t i, bool dbcs) {
    if (dbcs && IsCp932Lead(At(s, i)) && i + 1 < s.size() && IsCp932Trail(At(s, i + 1))) return 2;
    return 1;
}

// The Windows API sees C strings, so an embedded NUL ends the argument there.
std::string_view CString(const std::string& s) { return std::string_view(s.c_str()); }

std::string_view TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(At(s, b))) ++b;
    return s.substr(b);
}

// Blanks are all below 0x40, so they are never a trail byte and trimming byte-wise is safe.
std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    size_t e = s.size();
    while (e > 0 && IsBlank(At(s, e - 1))) --e;
    return s.substr(0, e);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII letters match in either case, but a trail byte that happens to be a letter must match
// exactly, or two different double-byte characters would compare equal.
bool NamesEqual(std::string_view a, std::string_view b, bool dbcs) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size();) {
        size_t len = CharLen(a, i, dbcs);
        if (len != CharLen(b, i, dbcs)) return false;
        if (len == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
        i += len;
    }
    return true;
}

// A lone surrogate becomes U+FFFD so the result is always valid UTF-8; an odd last byte is
// half a unit and is dropped.
std::string Utf16ToUtf8(std::string_view s, bool big_endian) {
    std::u16string units;
    units.reserve(s.size() / 2);
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        const unsigned a = At(s, i), b = At(s, i + 1);
        units.push_back(static_cast<char16_t>(big_endian ? (a << 8 | b) : (b << 8 | a)));
    }
    return utf::FromUtf16(units, utf::LoneSurrogate::Replace);
}

// Only a regular file is read: a directory is no settings file, and opening a FIFO or device
// could block the start-up or never end. A read error gives no text rather than part of one.
bool ReadRegularFile(const char* path, std::string* out) {
    if (*path == '\0') return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > kMaxFileSize) return false;
    out->clear();
    out->reserve(static_cast<size_t>(st.st_size));
    char chunk[16384];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (out->size() + static_cast<size_t>(n) > kMaxFileSize) return false;
        out->append(chunk, static_cast<size_t>(n));
    }
}

// Finds the first section named `section`, then the first key named `key` inside it; later
// duplicates are never looked at, even when the first key has no `=` and so no value.
bool Lookup(std::string_view text, bool dbcs, std::string_view section, std::string_view key,
            std::string_view* value) {
    bool in_section = false;
    size_t i = 0;
    while (i < text.size()) {
        if (IsLineEnd(At(text, i))) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && !IsLineEnd(At(text, i))) ++i;
        std::string_view line = Trim(text.substr(start, i - start));
        if (line.empty()) continue;

        if (line[0] == '[') {
            size_t close = 0;
            for (size_t k = 1; k < line.size(); k += CharLen(line, k, dbcs)) {
                if (line[k] == ']') close = k;
            }
            if (close != 0) {
                if (in_section) return false;
                in_section = NamesEqual(Trim(line.substr(1, close - 1)), section, dbcs);
                continue;
            }
            // Without a `]` the line is an ordinary key line of the current section.
        }
        if (!in_section) continue;

        size_t eq = 0;
        while (eq < line.size() && line[eq] != '=') eq += CharLen(line, eq, dbcs);
        if (!NamesEqual(Trim(line.substr(0, eq)), key, dbcs)) continue;
        if (eq == line.size()) return false;

        std::string_view v = TrimLeft(line.substr(eq + 1));
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
            v = v.substr(1, v.size() - 2);
        }
        *value = v;
        return true;
    }
    return false;
}

// Longest prefix of `v` that fits in `cap` bytes and ends on a whole character.
size_t CutLength(std::string_view v, size_t cap) {
    if (v.size() <= cap) return v.size();
    size_t cut = cap;
    if (utf::IsValid(v)) {
        while (cut > 0 && (At(v, cut) & 0xC0) == 0x80) --cut;
        return cut;
    }
    // Walk from the start: only then is it known which bytes are trail bytes. A lead byte is
    // never left last, whether the cut split its pair or it stood alone in the file.
    size_t i = 0, last = 0;
    while (i < v.size()) {
        size_t len = CharLen(v, i, true);
        if (i + len > cap) break;
        last = i;
        i += len;
    }
    if (i > 0 && i - last == 1 && IsCp932Lead(At(v, last))) return last;
    return i;
}

// Never allocates or throws, so it also serves as the fallback when reading failed.
unsigned CopyOut(std::string_view v, char* buffer, unsigned size) {
    const void* nul = std::memchr(v.data(), '\0', v.size());
    if (nul != nullptr)
        v = v.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - v.data()));
    size_t n = CutLength(v, size - 1);
    std::memcpy(buffer, v.data(), n);
    buffer[n] = '\0';
    return static_cast<unsigned>(n);
}

}  // namespace

unsigned ReadProfileString(const std::string& section, const std::string& key,
                           const std::string& def, char* buffer, unsigned size,
                           const std::string& file) {
    if (buffer == nullptr || size == 0) return 0;
    try {
        std::string_view sec = Trim(CString(section));
        std::string_view k = Trim(CString(key));
        std::string data;
        if (!sec.empty() && !k.empty() && ReadRegularFile(file.c_str(), &data)) {
            std::string_view text = data;
            bool dbcs = false;
            std::string decoded;
            if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
                // Declared UTF-8: parsed byte-wise even if some bytes are not valid UTF-8.
                text.remove_prefix(3);
            } else if (text.size() >= 2 &&
                       (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")) {
                decoded = Utf16ToUtf8(text.substr(2), text[0] == '\xFE');
                text = decoded;
            } else {
                // A file that is valid UTF-8 is treated as such; anything else is taken for the
                // Japanese ANSI code page, the one our users' Windows files come in.
                dbcs = !utf::IsValid(text);
            }
            std::string_view value;
            if (Lookup(text, dbcs, sec, k, &value)) return CopyOut(value, buffer, size);
        }
    } catch (...) {
        // Out of memory or the like: the caller gets the default, as for an unreadable file.
    }
    return CopyOut(CString(def), buffer, size);
}

}  // namespace doredaviro
