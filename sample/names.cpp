#include "names.h"

#include <cwctype>
#include <functional>

#include "core/utf.h"

namespace korvu {
namespace {

// "name (2).ext", or "name (2)" where there is no extension.
std::string variant(const std::string& name, int n) {
    std::string tag = " (" + std::to_string(n) + ")";
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name + tag;
    return name.substr(0, dot) + tag + name.substr(dot);
}

}  // namespace

size_t OutputNames::KeyHash::operator()(const Key& k) const {
    return std::hash<std::string>()(k.name) * 31 + k.parent;
}

std::vector<std::string> OutputNames::split(const std::string& path) {
    std::vector<std::string> parts;
    if (path.empty() || path[0] == '/') return parts;
    for (size_t at = 0; at <= path.size();) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(at, slash - at);
        if (part == "..") return {};
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        at = slash + 1;
    }
    return parts;
}

std::string OutputNames::key(const std::string& name) const {
    if (!fold_case_) return name;
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        char32_t cp = 0;
        size_t n = doredaviro::utf::Decode(name, i, &cp);
        if (n == 0) {
            out += name[i++];
            continue;
        }
        doredaviro::utf::Append(out, static_cast<char32_t>(std::towupper(static_cast<wint_t>(cp))));
        i += n;
    }
    return out;
}

std::uint32_t OutputNames::insert(std::uint32_t parent, const std::string& name, bool folder,
                                  Placed& placed) {
    auto id = static_cast<std::uint32_t>(folder_.size());
    bool moved = moved_[parent];
    if (fold_case_) {
        std::string on_disk = name;
        for (int n = 2; !taken_.emplace(Key{parent, key(on_disk)}, id).second; ++n) {
            on_disk = variant(name, n);
        }
        if (on_disk != name) {
            moved = true;
            placed.twins.push_back(name);
            disk_name_.emplace(id, std::move(on_disk));
        } else {
            disk_name_.emplace(id, name);
        }
    }
    folder_.push_back(folder);
    moved_.push_back(moved);
    parent_.push_back(parent);
    kids_.emplace(Key{parent, name}, id);
    return id;
}

OutputNames::Placed OutputNames::add(const std::vector<std::string>& parts, bool folder) {
    Placed placed;
    if (parts.empty()) return placed;
    // Archives list a folder's entries together: start where the last name branched off.
    size_t k = 0;
    while (k + 1 < parts.size() && k + 1 < last_.size() && parts[k] == last_[k] &&
           folder_[last_ids_[k + 1]]) {
        ++k;
    }
    last_ids_.resize(k + 1);
    std::uint32_t at = last_ids_[k];
    for (size_t i = k; i + 1 < parts.size(); ++i) {
        auto found = kids_.find(Key{at, parts[i]});
        if (found == kids_.end()) {
            at = insert(at, parts[i], true, placed);
            ++placed.new_folders;
        } else if (!folder_[found->second]) {
            // Through a file: the disk writer refuses that itself.
            last_.clear();
            last_ids_.assign(1, 0);
            return placed;
        } else {
            at = found->second;
        }
        last_ids_.push_back(at);
    }
    placed.result = Result::Added;
    auto found = kids_.find(Key{at, parts.back()});
    if (found == kids_.end()) {
        placed.id = insert(at, parts.back(), folder, placed);
    } else {
        if (!(folder && folder_[found->second])) placed.result = Result::Replaces;
        placed.id = found->second;
    }
    last_ids_.push_back(placed.id);
    last_ = parts;
    placed.disk_path = disk_path(placed.id);
    return placed;
}

std::optional<std::uint32_t> OutputNames::find(const std::vector<std::string>& parts) const {
    std::uint32_t at = 0;
    for (const std::string& part : parts) {
        auto found = kids_.find(Key{at, part});
        if (found == kids_.end()) return std::nullopt;
        at = found->second;
    }
    if (parts.empty()) return std::nullopt;
    return at;
}

std::optional<std::string> OutputNames::disk_path(std::uint32_t id) const {
    if (!moved_[id]) return std::nullopt;
    std::string path;
    for (std::uint32_t at = id; at != 0; at = parent_[at]) {
        path.insert(0, (at == id ? "" : "/"));
        path.insert(0, disk_name_.at(at));
    }
    return path;
}

}  // namespace korvu
