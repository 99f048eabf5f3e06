// The parts of the file-system helpers that are the same on every system:
// messages, names and the run's shared state.
#include <archive.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/utf.h"
#include "fsutil.h"

namespace korvu {

volatile std::sig_atomic_t g_stop_signal = 0;
mode_t g_umask = 022;
void (*g_entry_hook)(const std::string& name) = nullptr;
bool g_skipped = false;

void check_stop() {
    if (g_stop_signal != 0) throw Failure("interrupted");
}

namespace {

// Length of the valid UTF-8 sequence at s[i] (storing its code point), or 0.
size_t utf8_len(const std::string& s, size_t i, unsigned& cp) {
    char32_t c = 0;
    const size_t n = doredaviro::utf::Decode(s, i, &c);
    cp = static_cast<unsigned>(c);
    return n;
}

}  // namespace

bool is_utf8(const std::string& bytes) {
    unsigned cp;
    for (size_t i = 0; i < bytes.size();) {
        size_t n = utf8_len(bytes, i, cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string display(const std::string& bytes) {
    std::string out;
    unsigned cp;
    char buf[8];
    for (size_t i = 0; i < bytes.size();) {
        size_t n = utf8_len(bytes, i, cp);
        // C0 and C1 controls would be acted on by a terminal.
        if (n == 0 || cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            unsigned char c = static_cast<unsigned char>(bytes[i]);
            if (c == '\n') {
                out += "\\n";
            } else if (c == '\t') {
                out += "\\t";
            } else {
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            }
            ++i;
            continue;
        }
#ifndef _WIN32  // there it separates folders, and doubled it would read as two
        if (cp == '\\') out += '\\';
#endif
        out.append(bytes, i, n);
        i += n;
    }
    return out;
}

std::string quote(const std::string& bytes) { return "'" + display(bytes) + "'"; }

void fail_errno(const std::string& what, int err) {
    throw Failure(what + ": " + std::strerror(err));
}

std::string archive_message(archive* a) {
    const char* msg = archive_error_string(a);
    std::string out = msg != nullptr ? msg : "unknown error";
    // The library reports format and usage errors as EILSEQ and EINVAL, whose
    // text would only mislead.
    int err = archive_errno(a);
    if (err > 0 && err != EILSEQ && err != EINVAL) {
        std::string reason = std::strerror(err);
        if (out.find(reason) == std::string::npos) out += ": " + reason;
    }
    return display(out);
}

Fd& Fd::operator=(Fd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

std::string numbered(const std::string& base, int n) {
    return n <= 1 ? base : base + " (" + std::to_string(n) + ")";
}

std::string archive_stem(const std::string& name) {
    auto strip = [](const std::string& s) {
        size_t dot = s.rfind('.');
        return (dot == std::string::npos || dot == 0 || dot + 1 == s.size()) ? s : s.substr(0, dot);
    };
    std::string stem = strip(name);
    bool tar = false;
    if (stem.size() >= 4) {
        std::string tail = stem.substr(stem.size() - 4);
        for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        tar = tail == ".tar";
        if (tar) stem = strip(stem);
    }
    // ".zip" would name the archive itself, "..zip" a folder that cannot be
    // made, ".tar.gz" a hidden ".tar": use what follows the leading dots.
    bool all_extension = stem.find_first_not_of('.') == std::string::npos ||
                         (name[0] == '.' && (stem == name || (tar && stem.size() == 4)));
    if (!all_extension) return stem;
    size_t first = name.find_first_not_of('.');
    return first == std::string::npos ? "archive" : archive_stem(name.substr(first));
}

}  // namespace korvu
