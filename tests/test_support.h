#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

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

}  // namespace doredaviro::testing
