#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/platform.h"

namespace doredaviro::testing {

// A fresh folder of its own under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (unsigned attempt = 0;; ++attempt) {
            path_ = std::filesystem::temp_directory_path() /
                    ("doredaviro-test-" + std::to_string(stamp) + "-" + std::to_string(counter++) +
                     "-" + std::to_string(attempt));
            std::error_code ec;
            if (std::filesystem::create_directory(path_, ec) || attempt > 100) break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's path as UTF-8 text.
    std::string str() const { return path_.u8string(); }
    std::string file(const std::string& name) const { return str() + kSep + name; }

#ifdef _WIN32
    static constexpr char kSep = '\\';
#else
    static constexpr char kSep = '/';
#endif

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << bytes;
}

// One message box as shown: what a fake records and a test expects.
struct MsgBoxCall {
    std::string prompt;
    MessageStyle style;
    std::string title;
    bool operator==(const MsgBoxCall& o) const {
        return prompt == o.prompt && style == o.style && title == o.title;
    }
};

// The bytes a string of hex digits stands for.
inline std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// One start of the recording archiver: its arguments, and its other fields
// (cwd, cmdline, fds, pid, ...) with the hex-written ones decoded.
struct RecorderRecord {
    std::vector<std::string> args;
    std::map<std::string, std::string> fields;
    const std::string& at(const std::string& name) const { return fields.at(name); }
};

// The recorder's log, one record per start in the order written; a record
// still being written is left out.
inline std::vector<RecorderRecord> ReadRecorderLog(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<RecorderRecord> records;
    RecorderRecord current;
    for (std::size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos;
         pos = end + 1) {
        const std::string line = text.substr(pos, end - pos);
        if (line == "end") {
            records.push_back(std::move(current));
            current = {};
            continue;
        }
        const auto eq = line.find('=');
        const std::string name = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
        if (name == "arg") {
            current.args.push_back(Unhex(value));
        } else {
            const bool hex = name == "cwd" || name == "cmdline";
            current.fields[name] = hex ? Unhex(value) : value;
        }
    }
    return records;
}

// The log once it holds `count` records, or as it is after a few seconds.
inline std::vector<RecorderRecord> WaitForRecords(const std::string& path, std::size_t count) {
    std::vector<RecorderRecord> records;
    for (int i = 0; i < 300; ++i) {
        records = ReadRecorderLog(path);
        if (records.size() >= count) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return records;
}

}  // namespace doredaviro::testing
