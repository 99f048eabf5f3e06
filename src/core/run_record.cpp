#include "run_record.h"

#include <cstdio>

#include "utf.h"

namespace doredaviro {

std::string EscapeRecordField(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        char32_t cp = 0;
        const std::size_t n = c >= 0x80 ? utf::Decode(bytes, i, &cp) : 1;
        if (c >= 0x80 && n > 0) {
            out.append(bytes.substr(i, n));
            i += n;
            continue;
        }
        ++i;
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20 || c >= 0x7f) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool UnescapeRecordField(std::string_view text, std::string& bytes) {
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\t' || c == '\n' || c == '\r') return false;
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
            case '\\':
                bytes += '\\';
                break;
            case 't':
                bytes += '\t';
                break;
            case 'n':
                bytes += '\n';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 'x': {
                if (i + 2 >= text.size()) return false;
                const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
                if (high < 0 || low < 0) return false;
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

std::string RecordTime(long long ms) {
    // Days to a civil date, valid for every date this program can meet.
    long long days = ms / 86400000, rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", year,
                  month, day, rest / 3600000, rest / 60000 % 60, rest / 1000 % 60, rest % 1000);
    return text;
}

std::string FormatRunRecord(const std::vector<ArchiverRecord>& archivers) {
    std::string out = "# Zivev+Korvu run record 1\n";
    std::size_t errorBytes = 0;
    for (const ArchiverRecord& a : archivers) {
        out += RecordTime(a.startedMs) + '\t' + RecordTime(a.endedMs) + '\t';
        if (a.end.signal > 0) {
            out += "signal " + std::to_string(a.end.signal);
        } else if (a.end.status >= 0) {
            out += "exit " + std::to_string(a.end.status);
        } else {
            out += "unknown";
        }
        out += '\t' + EscapeRecordField(a.path) + '\t';
        if (!a.end.succeeded && errorBytes < kRecordErrorBytes) {
            errorBytes += a.end.errorTail.size();
            out += EscapeRecordField(a.end.errorTail);
        }
        out += '\n';
    }
    return out;
}

std::string RunRecordName(long long startedMs) {
    std::string name = "run-" + RecordTime(startedMs);
    for (char& c : name) {
        if (c == ':') c = '-';
    }
    return name + ".tsv";
}

std::string EscapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace doredaviro
