// libFuzzer target for the text/uri-list decoder that drops and pastes go through. The input is
// the whole list. Besides the sanitizers it checks what the queue relies on: every path is
// absolute and has no NUL, no line gives more than one path, the copied-files form decodes its
// body exactly as a list, and each path found comes back alone from a URL made of it.

#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "posix/uri_list.h"

namespace {

// A file URL for `path`, every byte but the unreserved ones and '/' percent-encoded.
std::string UrlOf(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            url += c;
        } else {
            url += '%';
            url += kHex[b >> 4];
            url += kHex[b & 15];
        }
    }
    return url;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    using doredaviro::posix::LocalPathsFromCopiedFiles;
    using doredaviro::posix::LocalPathsFromUriList;

    const std::vector<std::string> paths = LocalPathsFromUriList(input);
    std::size_t lines = 1;
    for (const char c : input) lines += c == '\r' || c == '\n';
    CHECK(paths.size() <= lines);
    for (const std::string& path : paths) {
        CHECK(!path.empty() && path[0] == '/');
        CHECK(path.find('\0') == std::string::npos);
        CHECK(LocalPathsFromUriList(UrlOf(path) + "\r\n") == std::vector<std::string>{path});
    }
    CHECK(LocalPathsFromCopiedFiles("copy\n" + input) == paths);
    CHECK(LocalPathsFromCopiedFiles("cut\r\n" + input) == paths);
    const std::vector<std::string> copied = LocalPathsFromCopiedFiles(input);
    if (input.compare(0, 5, "copy\n") != 0 && input.compare(0, 4, "cut\n") != 0 &&
        input.compare(0, 5, "copy\r") != 0 && input.compare(0, 4, "cut\r") != 0) {
        CHECK(copied.empty());
    }
    return 0;
}
