// libFuzzer target for the hand-over's decoders: the Linux frame and the Windows message data,
// both fed the same bytes. Besides the sanitizers it checks what the receiving copy relies on:
// what decodes is within the limits and encodes back to exactly the bytes it came from, and the
// count of bytes still missing agrees with every prefix of a frame.

#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "posix/hand_over.h"
#include "win32/hand_over_data.h"

namespace {

using doredaviro::posix::kHandOverHeaderBytes;

void LinuxFrame(std::string_view input) {
    const long missing = doredaviro::posix::HandOverBytesMissing(input);
    const auto paths = doredaviro::posix::DecodeHandOver(input);
    if (paths) {
        CHECK(missing == 0);
        CHECK(!paths->empty() && paths->size() <= 32767);
        for (const std::string& path : *paths) {
            CHECK(!path.empty() && path.size() <= 4095 && path[0] == '/');
            CHECK(path.find('\0') == std::string::npos);
        }
        CHECK(doredaviro::posix::EncodeHandOver(*paths) == input);
    }
    if (missing < 0) return;
    // What a reader that gets the frame piece by piece is told at each piece.
    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, kHandOverHeaderBytes - 1,
                            kHandOverHeaderBytes, input.size() / 2, input.size() - 1}) {
        if (cut >= input.size()) continue;
        const long before = doredaviro::posix::HandOverBytesMissing(input.substr(0, cut));
        if (cut < kHandOverHeaderBytes) {
            CHECK(before == static_cast<long>(kHandOverHeaderBytes - cut));
        } else {
            CHECK(before == missing + static_cast<long>(input.size() - cut));
        }
    }
}

void WindowsData(std::string_view input) {
    const auto data = doredaviro::win32::DecodeHandOver(input.data(), input.size());
    if (!data) return;
    CHECK(!data->slot.empty() && data->slot.find_first_not_of("0123456789.") == std::string::npos);
    CHECK(!data->paths.empty() && data->paths.size() <= 32767);
    const std::u16string units = doredaviro::win32::EncodeHandOver(*data);
    CHECK(units.size() * sizeof(char16_t) == input.size());
    CHECK(std::string_view(reinterpret_cast<const char*>(units.data()), input.size()) == input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    LinuxFrame(input);
    WindowsData(input);
    return 0;
}
