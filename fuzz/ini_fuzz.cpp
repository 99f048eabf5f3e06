// libFuzzer target for the settings-file reader. The input is the whole file. Besides the
// sanitizers it checks what a caller relies on: the result fits and is terminated, a smaller
// buffer gives a prefix cut on a whole character, the lookup ignores case and padding, and for
// UTF-8 files the answer equals that of a plain model of the rules.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "core/settings_reader.h"

namespace {

// One file per process, rewritten for each input: a memfd when the kernel has them, so the
// run does not wear the disk, else a file under /tmp.
const std::string& InputPath(int* fd_out) {
    static int fd = -1;
    static std::string path;
    if (fd < 0) {
        fd = memfd_create("ini_fuzz", MFD_CLOEXEC);
        if (fd >= 0) {
            path = "/proc/self/fd/" + std::to_string(fd);
        } else {
            path = "/tmp/ini_fuzz." + std::to_string(getpid()) + ".ini";
            fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        }
        CHECK(fd >= 0);
    }
    *fd_out = fd;
    return path;
}

const std::string& WriteInput(const uint8_t* data, size_t size) {
    int fd;
    const std::string& path = InputPath(&fd);
    CHECK(ftruncate(fd, 0) == 0);
    for (size_t done = 0; done < size;) {
        ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        CHECK(n > 0);
        done += static_cast<size_t>(n);
    }
    return path;
}

bool Utf8Ok(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned c = static_cast<unsigned char>(s[i]);
        size_t more = c < 0x80 ? 0 : c < 0xC2 ? 9 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : 9;
        if (more == 9 || s.size() - i <= more) return false;
        unsigned cp = more == 0 ? c : c & (0x3F >> more);
        for (size_t k = 1; k <= more; ++k) {
            unsigned t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = cp << 6 | (t & 0x3F);
        }
        static const unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
        i += more + 1;
    }
    return true;
}

// True when the text, read as CP932 from its start, ends with a lead byte whose trail byte is
// missing.
bool EndsInLoneLead(const std::string& s) {
    auto lead = [](unsigned c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); };
    auto trail = [](unsigned c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); };
    size_t i = 0;
    bool lone = false;
    while (i < s.size()) {
        unsigned c = static_cast<unsigned char>(s[i]);
        if (lead(c) && i + 1 < s.size() && trail(static_cast<unsigned char>(s[i + 1]))) {
            i += 2;
            lone = false;
        } else {
            lone = lead(c);
            i += 1;
        }
    }
    return lone;
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

std::string Trim(const std::string& s, bool right = true) {
    size_t b = 0, e = s.size();
    while (b < e && Blank(s[b])) ++b;
    while (right && e > b && Blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
}

// The rules for a UTF-8 file, written the plain way: the value of Path in [Korvu Path], or
// nothing.
std::optional<std::string> Model(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    bool in_section = false;
    for (const std::string& raw : lines) {
        std::string line = Trim(raw);
        if (line.empty()) continue;
        if (line[0] == '[' && line.find(']') != std::string::npos) {
            if (in_section) return std::nullopt;
            in_section = Lower(Trim(line.substr(1, line.rfind(']') - 1))) == "korvu path";
            continue;
        }
        if (!in_section) continue;
        size_t eq = line.find('=');
        if (Lower(Trim(line.substr(0, eq))) != "path") continue;
        if (eq == std::string::npos) return std::nullopt;
        std::string v = Trim(line.substr(eq + 1), false);
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
            v = v.substr(1, v.size() - 2);
        }
        return v.substr(0, v.find('\0'));
    }
    return std::nullopt;
}

// Calls the reader with an exactly sized heap buffer, so that ASan sees any write past it, and
// checks the parts of the contract that hold for any input.
std::string Read(const std::string& section, const std::string& key, const std::string& def,
                 unsigned size, const std::string& path) {
    std::unique_ptr<char[]> buf(new char[size]);
    std::memset(buf.get(), '\xA5', size);
    unsigned ret = doredaviro::ReadProfileString(section, key, def, buf.get(), size, path);
    CHECK(ret < size);
    CHECK(buf[ret] == '\0');
    CHECK(std::memchr(buf.get(), '\0', ret) == nullptr);
    for (unsigned i = ret + 1; i < size; ++i) CHECK(buf[i] == '\xA5');
    return std::string(buf.get(), ret);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string& path = WriteInput(data, size);
    const bool utf16 =
        size >= 2 && (input.compare(0, 2, "\xFF\xFE") == 0 || input.compare(0, 2, "\xFE\xFF") == 0);
    const bool bom8 = input.compare(0, 3, "\xEF\xBB\xBF") == 0;

    // Larger than any value this input can hold, even decoded from UTF-16.
    const unsigned big = static_cast<unsigned>(size * 2 + 16);
    const std::string full = Read("Korvu Path", "Path", "", big, path);

    CHECK(Read(" KORVU PATH\t", "path\x1A", "", big, path) == full);
    const std::string with_def = Read("Korvu Path", "Path", "\x01-default", big, path);
    CHECK(with_def == full || (full.empty() && with_def == "\x01-default"));

    if (utf16) {
        CHECK(Utf8Ok(full));
    } else {
        // Everything else is returned as stored, never re-encoded.
        CHECK(full.empty() || input.find(full) != std::string::npos);
        const std::string body = bom8 ? input.substr(3) : input;
        if (Utf8Ok(body)) {
            CHECK(Utf8Ok(full));
            CHECK(full == Model(body).value_or(""));
        }
    }

    for (unsigned n : {1u, 2u, 3u, 4u, 5u, 64u, 199u, 200u, 201u}) {
        const std::string cut = Read("Korvu Path", "Path", "", n, path);
        CHECK(full.compare(0, cut.size(), cut) == 0);
        const size_t fit = std::min<size_t>(full.size(), n - 1);
        CHECK(cut.size() <= fit && cut.size() + 3 >= fit);
        if (cut.size() == full.size()) continue;
        if (Utf8Ok(full)) {
            CHECK(Utf8Ok(cut));
        } else {
            CHECK(cut.size() + 1 >= fit);
            CHECK(!EndsInLoneLead(cut));
        }
    }
    return 0;
}
