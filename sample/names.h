// The rules an entry's name must pass before the disk writer sees it, and
// where on disk each entry goes. Plain C++ with no file-system calls, so
// that the fuzz target can drive it alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvu {

// The names in the folder being filled. The folder is new, so everything in
// it came from earlier entries or is a folder above one of them; keeping the
// names here, rather than looking on disk, makes each check cost the length
// of the entry's name and not the depth of the tree times that.
class OutputNames {
public:
    enum class Result { Added, Replaces, Unchecked };

    struct Placed {
        Result result = Result::Unchecked;
        std::uint32_t id = 0;         // the entry's own node; 0 when unchecked
        std::size_t new_folders = 0;  // folders above it that do not exist yet
        // Set when a twin (below) moved it or a folder above it.
        std::optional<std::string> disk_path;
        // The names in the archive that got a name of their own here.
        std::vector<std::string> twins;
    };

    // `fold_case`: the file system does not tell names apart by case, so a
    // name that differs only in case from an earlier one in the same folder
    // (a twin) is given a free name "name (2).ext", "name (3).ext", ...
    explicit OutputNames(bool fold_case = false) : fold_case_(fold_case) {}

    // Splits a name as the disk writer does; empty for names it refuses
    // anyway (absolute, "..").
    static std::vector<std::string> split(const std::string& path);

    // Records an entry; Replaces when it would take the place of an earlier
    // one (a folder listed again only adds to what is in it).
    Placed add(const std::vector<std::string>& parts, bool folder);

    // The node of an earlier entry or folder of that name.
    std::optional<std::uint32_t> find(const std::vector<std::string>& parts) const;
    // Where node `id` is on disk, relative to the folder; set only when a
    // twin moved it or a folder above it.
    std::optional<std::string> disk_path(std::uint32_t id) const;

    // The key under which the file system compares names: the name itself,
    // or its upper case where case does not count.
    std::string key(const std::string& name) const;

private:
    struct Key {
        std::uint32_t parent;
        std::string name;
        bool operator==(const Key& o) const { return parent == o.parent && name == o.name; }
    };
    struct KeyHash {
        size_t operator()(const Key& k) const;
    };
    using Map = std::unordered_map<Key, std::uint32_t, KeyHash>;

    std::uint32_t insert(std::uint32_t parent, const std::string& name, bool folder,
                         Placed& placed);

    bool fold_case_;
    Map kids_;                        // by the name in the archive
    Map taken_;                       // by key(name on disk), where case does not count
    std::vector<bool> folder_{true};  // by id; 0 is the new folder itself
    std::vector<bool> moved_{false};  // it or a folder above it has another name on disk
    std::vector<std::uint32_t> parent_{0};
    std::unordered_map<std::uint32_t, std::string> disk_name_;  // where case does not count
    std::vector<std::string> last_;
    std::vector<std::uint32_t> last_ids_{0};
};

}  // namespace korvu
