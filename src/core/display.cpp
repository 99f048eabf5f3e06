#include "display.h"

namespace doredaviro {

std::string DisplayKey(const std::string& display) {
    if (display.empty()) return "nodisplay";
    std::string key = display;
    const auto colon = key.rfind(':');
    if (colon != std::string::npos) {
        std::string host = key.substr(0, colon);
        std::string number = key.substr(colon + 1);
        if (const auto dot = number.find('.'); dot != std::string::npos) number.erase(dot);
        if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos) {
            number.erase(0, number.find_first_not_of('0'));
            if (number.empty()) number = "0";
        }
        // "proto/host": the protocol says how, the host where; a socket path (as launchd gives
        // one) is local.
        bool local = !host.empty() && host[0] == '/';
        if (const auto slash = host.find('/'); slash != std::string::npos && !local) {
            const std::string protocol = host.substr(0, slash);
            host.erase(0, host.rfind('/') + 1);
            local = protocol == "unix" || protocol == "local";
        }
        if (host.empty() || host == "unix") local = true;
        for (char& c : host) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        key = (local ? std::string() : host) + ":" + number;
    }
    for (char& c : key) {
        if (c == '/') c = '_';
    }
    // Bounded, so the socket's name stays short whatever the variable holds.
    if (key.size() > 64) key.resize(64);
    return key;
}

}  // namespace doredaviro
