#include "win32/hand_over_data.h"

#include <cstring>

#include "core/frmDoredAviro.h"
#include "core/utf.h"

namespace doredaviro::win32 {

namespace {

// No more than the list could ever hold.
constexpr std::size_t kMaxPaths = kMaxRows;
constexpr std::size_t kMaxSlotUnits = 24;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsAbsolute(const std::u16string& path) {
    const bool drive =
        path.size() >= 3 &&
        ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
        path[1] == u':' && IsSeparator(path[2]);
    const bool unc = path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]);
    return drive || unc;
}

bool IsSlotName(const std::u16string& name) {
    const auto dot = name.find(u'.');
    if (name.size() > kMaxSlotUnits || dot == 0 || dot == std::u16string::npos ||
        dot + 1 == name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (i != dot && (name[i] < u'0' || name[i] > u'9')) return false;
    }
    return true;
}

}  // namespace

std::u16string EncodeHandOver(const HandOverData& data) {
    std::u16string units = utf::ToUtf16(data.slot);
    units.push_back(u'\0');
    for (const std::string& path : data.paths) {
        units += utf::ToUtf16(path);
        units.push_back(u'\0');
    }
    return units;
}

std::optional<HandOverData> DecodeHandOver(const void* data, std::size_t bytes) {
    if (!data || bytes == 0 || bytes % sizeof(char16_t) != 0 || bytes > kMaxHandOverBytes) {
        return std::nullopt;
    }
    // Copied, since the sender's bytes need not be aligned for UTF-16 units.
    std::u16string units(bytes / sizeof(char16_t), u'\0');
    std::memcpy(units.data(), data, bytes);
    if (units.back() != u'\0') return std::nullopt;
    HandOverData decoded;
    bool slot = true;
    for (std::size_t at = 0; at < units.size();) {
        const std::size_t end = units.find(u'\0', at);
        const std::u16string part = units.substr(at, end - at);
        at = end + 1;
        if (slot) {
            if (!IsSlotName(part)) return std::nullopt;
            decoded.slot = utf::FromUtf16(part, utf::LoneSurrogate::Keep);
            slot = false;
            continue;
        }
        if (!IsAbsolute(part) || decoded.paths.size() == kMaxPaths) return std::nullopt;
        decoded.paths.push_back(utf::FromUtf16(part, utf::LoneSurrogate::Keep));
    }
    if (decoded.paths.empty()) return std::nullopt;
    return decoded;
}

}  // namespace doredaviro::win32
