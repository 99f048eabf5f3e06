#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The data of the Windows hand-over's first message, apart from any Windows header so that the
// decoder can be fuzzed anywhere: UTF-16 units, each part ended by a NUL. First the name of
// the sender's slot (its process number, a dot and a number of its own), then the paths.
namespace doredaviro::win32 {

// Far more than Explorer's command line of about 32 000 characters can carry.
constexpr std::size_t kMaxHandOverBytes = std::size_t{4} << 20;

struct HandOverData {
    std::string slot;                // ASCII digits, one dot, digits
    std::vector<std::string> paths;  // UTF-8, lone surrogates kept
};

std::u16string EncodeHandOver(const HandOverData& data);
// The slot and paths of a message's data, or nothing unless it is well-formed: whole UTF-16
// units within the size limit, each part ended by a NUL, a slot name as above, and 1 to 32767
// paths, each not empty and absolute (a drive and a backslash, or a UNC path).
std::optional<HandOverData> DecodeHandOver(const void* data, std::size_t bytes);

}  // namespace doredaviro::win32
