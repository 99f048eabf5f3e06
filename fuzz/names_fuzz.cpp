// libFuzzer target for the rules an archive entry's name must pass before the sample archiver
// writes it. The input is one name per line; the first byte says whether the file system tells
// names apart by case, and the low bit of each line's first byte whether the entry is a folder.
// Besides the sanitizers it checks what keeps entries inside the new folder and apart: no part
// that climbs out or names nothing, and no two different names landing on one place on disk
// unless the answer says one would replace the other (or both are folders).

#include <clocale>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "check.h"
#include "names.h"

namespace {

std::string Join(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += (i == 0 ? "" : "/") + parts[i];
    return out;
}

struct Seen {
    std::string name;  // in the archive
    bool folder;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // As the archiver runs, so that case is folded beyond ASCII.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    korvu::OutputNames names((data[0] & 1) != 0);
    std::map<std::string, Seen> on_disk;  // by the file system's key of the whole path
    size_t lines = 0;
    for (size_t at = 0; at <= input.size() && lines < 256; ++lines) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos) end = input.size();
        std::string line = input.substr(at, end - at);
        at = end + 1;
        const bool folder = !line.empty() && (line[0] & 1) != 0;
        const std::vector<std::string> parts = korvu::OutputNames::split(line);

        // Nothing that leaves the folder, names it again or hides a separator.
        if (!line.empty() && line[0] == '/') CHECK(parts.empty());
        for (const std::string& part : parts) {
            CHECK(!part.empty() && part != "." && part != "..");
            CHECK(part.find('/') == std::string::npos);
        }
        if (("/" + line + "/").find("/../") != std::string::npos) CHECK(parts.empty());

        korvu::OutputNames::Placed placed = names.add(parts, folder);
        if (placed.result == korvu::OutputNames::Result::Unchecked) continue;
        const std::string disk = placed.disk_path.value_or(Join(parts, parts.size()));
        const std::vector<std::string> disk_parts = korvu::OutputNames::split(disk);
        CHECK(disk_parts.size() == parts.size());
        if (placed.disk_path) CHECK(names.disk_path(placed.id) == placed.disk_path);
        CHECK(names.find(parts) == placed.id);

        // The folders above it, then the entry itself.
        for (size_t n = 1; n <= parts.size(); ++n) {
            std::string key;
            for (size_t i = 0; i < n; ++i) key += (i == 0 ? "" : "/") + names.key(disk_parts[i]);
            const bool last = n == parts.size();
            const Seen now{Join(parts, n), last ? folder : true};
            auto found = on_disk.find(key);
            if (found == on_disk.end()) {
                CHECK(!last || placed.result == korvu::OutputNames::Result::Added);
                on_disk.emplace(key, now);
                continue;
            }
            // One place on disk is only ever one name of the archive.
            CHECK(found->second.name == now.name);
            if (last) {
                const bool both_folders = found->second.folder && now.folder;
                CHECK((placed.result == korvu::OutputNames::Result::Replaces) != both_folders);
            } else {
                CHECK(found->second.folder);
            }
        }
    }
    return 0;
}
