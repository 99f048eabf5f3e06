// Reads the version record, the icon and the manifest back out of a built Windows program by
// walking its PE resource directory, and checks each against what the program must carry.
// A Linux program: it needs no Windows to look at a Windows file.
// usage: resource_check PROGRAM.exe
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

int failures = 0;

#define CHECK(cond)                                                                 \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

#define CHECK_EQ(a, b)                                                                     \
    do {                                                                                   \
        const auto& va = (a);                                                              \
        const auto& vb = (b);                                                              \
        if (!(va == vb)) {                                                                 \
            std::fprintf(stderr, "%s:%d: failed: %s == %s\n", __FILE__, __LINE__, #a, #b); \
            ++failures;                                                                    \
        }                                                                                  \
    } while (0)

struct Image {
    std::vector<unsigned char> bytes;
    struct Section {
        uint32_t rva, size, offset;
    };
    std::vector<Section> sections;

    uint32_t U32(std::size_t at) const {
        if (at + 4 > bytes.size()) throw std::out_of_range("past the end of the file");
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
    }
    uint16_t U16(std::size_t at) const {
        if (at + 2 > bytes.size()) throw std::out_of_range("past the end of the file");
        return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
    }
    std::size_t Offset(uint32_t rva) const {
        for (const Section& s : sections) {
            if (rva >= s.rva && rva < s.rva + s.size) return s.offset + (rva - s.rva);
        }
        throw std::out_of_range("address outside every section");
    }
};

// type -> id -> (language, bytes)
using Resources = std::map<uint32_t, std::map<uint32_t, std::pair<uint32_t, std::string>>>;

Resources ReadResources(const Image& img, uint16_t* machine) {
    const uint32_t pe = img.U32(0x3C);
    if (img.U32(pe) != 0x00004550) throw std::runtime_error("not a PE file");
    *machine = img.U16(pe + 4);
    const uint16_t sectionCount = img.U16(pe + 6);
    const uint16_t optionalSize = img.U16(pe + 20);
    const std::size_t optional = pe + 24;
    const bool pe32plus = img.U16(optional) == 0x20B;
    const std::size_t directories = optional + (pe32plus ? 112 : 96);
    const uint32_t resourceRva = img.U32(directories + 2 * 8);

    Image& mutableImg = const_cast<Image&>(img);
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const std::size_t s = optional + optionalSize + i * 40u;
        mutableImg.sections.push_back(
            {img.U32(s + 12), std::max(img.U32(s + 8), img.U32(s + 16)), img.U32(s + 20)});
    }
    const std::size_t root = img.Offset(resourceRva);
    // Entries of one directory level: (id, offset of what it points at, is a directory).
    auto entries = [&](std::size_t dir) {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        const unsigned count = img.U16(dir + 12) + img.U16(dir + 14);
        for (unsigned i = 0; i < count; ++i) {
            out.emplace_back(img.U32(dir + 16 + i * 8), img.U32(dir + 20 + i * 8));
        }
        return out;
    };
    Resources res;
    for (auto [type, typeDir] : entries(root)) {
        for (auto [id, idDir] : entries(root + (typeDir & 0x7FFFFFFF))) {
            for (auto [lang, leaf] : entries(root + (idDir & 0x7FFFFFFF))) {
                const std::size_t data = root + leaf;
                const std::size_t at = img.Offset(img.U32(data));
                const uint32_t size = img.U32(data + 4);
                if (at + size > img.bytes.size()) throw std::out_of_range("resource past the end");
                res[type][id] = {lang,
                                 std::string(img.bytes.begin() + static_cast<long>(at),
                                             img.bytes.begin() + static_cast<long>(at + size))};
            }
        }
    }
    return res;
}

std::string Utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// One node of a version record: wLength, wValueLength, wType, szKey, padding, value, children.
struct Node {
    std::string key;
    std::string value;  // raw bytes
    bool text = false;
    std::vector<Node> children;
};

uint16_t Get16(const std::string& b, std::size_t at) {
    if (at + 2 > b.size()) throw std::out_of_range("version record cut short");
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 static_cast<unsigned char>(b[at + 1]) << 8);
}

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

Node ParseNode(const std::string& b, std::size_t at) {
    Node node;
    const std::size_t length = Get16(b, at);
    const std::size_t valueLength = Get16(b, at + 2);
    node.text = Get16(b, at + 4) == 1;
    std::size_t p = at + 6;
    std::u16string key;
    while (char16_t c = Get16(b, p)) {
        key.push_back(c);
        p += 2;
    }
    node.key = Utf8(key);
    p = Align4(p + 2);
    const std::size_t valueBytes = node.text ? valueLength * 2 : valueLength;
    if (valueBytes) {
        if (p + valueBytes > b.size()) throw std::out_of_range("value past the record");
        node.value = b.substr(p, valueBytes);
        p = Align4(p + valueBytes);
    }
    while (p + 6 <= at + length) {
        node.children.push_back(ParseNode(b, p));
        const std::size_t childLength = Get16(b, p);
        if (childLength == 0) break;
        p = Align4(p + childLength);
    }
    return node;
}

std::string TextValue(const Node& n) {
    std::u16string s;
    for (std::size_t i = 0; i + 1 < n.value.size(); i += 2) {
        const char16_t c = Get16(n.value, i);
        if (c == 0) break;
        s.push_back(c);
    }
    return Utf8(s);
}

const Node* Child(const Node& n, const std::string& key) {
    for (const Node& c : n.children) {
        if (c.key == key) return &c;
    }
    return nullptr;
}

// What a version record must hold: the fixed part's file and product version, and texts.
struct WantedVersion {
    uint32_t high, low;  // FILEVERSION and PRODUCTVERSION, as two 32-bit halves
    std::map<std::string, std::string> texts;
    // Japanese texts in Unicode; NSIS records the language's own code page instead, 932.
    unsigned codePage;
};

// The program's record: version 1.00, under the names it has always had.
const WantedVersion kProgram{0x00010000u,
                             0x00000000u,
                             {{"FileVersion", "1.00"},
                              {"ProductVersion", "1.00"},
                              {"ProductName", "DoredAviro"},
                              {"InternalName", "Zivev+Korvu"},
                              {"OriginalFilename", "Zivev+Korvu.exe"}},
                             1200};

void CheckVersion(const std::string& record, const WantedVersion& wanted) {
    const Node root = ParseNode(record, 0);
    CHECK_EQ(root.key, std::string("VS_VERSION_INFO"));
    CHECK_EQ(root.value.size(), std::size_t{52});
    if (root.value.size() == 52) {
        auto u32 = [&](std::size_t at) {
            return uint32_t{Get16(root.value, at)} | uint32_t{Get16(root.value, at + 2)} << 16;
        };
        CHECK_EQ(u32(0), 0xFEEF04BDu);
        CHECK_EQ(u32(8), wanted.high);  // FILEVERSION
        CHECK_EQ(u32(12), wanted.low);
        CHECK_EQ(u32(16), wanted.high);  // PRODUCTVERSION
        CHECK_EQ(u32(20), wanted.low);
        CHECK_EQ(u32(36), 0x00000001u);  // VFT_APP
    }
    const Node* strings = Child(root, "StringFileInfo");
    CHECK(strings != nullptr);
    // Windows finds the table by its hex key in either letter case; NSIS writes lower case.
    char upper[9], lower[9];
    std::snprintf(upper, sizeof upper, "0411%04X", wanted.codePage);
    std::snprintf(lower, sizeof lower, "0411%04x", wanted.codePage);
    const Node* table = strings ? Child(*strings, upper) : nullptr;
    if (!table && strings) table = Child(*strings, lower);
    CHECK(table != nullptr);
    if (table) {
        for (const auto& [key, value] : wanted.texts) {
            const Node* n = Child(*table, key);
            CHECK(n != nullptr);
            if (n) {
                CHECK(n->text);
                if (TextValue(*n) != value) {
                    std::fprintf(stderr, "%s is \"%s\", not \"%s\"\n", key.c_str(),
                                 TextValue(*n).c_str(), value.c_str());
                    ++failures;
                }
            }
        }
        for (const char* key : {"CompanyName", "FileDescription"}) {
            const Node* n = Child(*table, key);
            CHECK(n != nullptr && !TextValue(*n).empty());
        }
    }
    const Node* vars = Child(root, "VarFileInfo");
    const Node* translation = vars ? Child(*vars, "Translation") : nullptr;
    CHECK(translation != nullptr);
    if (translation) {
        CHECK_EQ(translation->value.size(), std::size_t{4});
        if (translation->value.size() == 4) {
            CHECK_EQ(Get16(translation->value, 0), 0x0411);
            CHECK_EQ(Get16(translation->value, 2), wanted.codePage);
        }
    }
}

void CheckIcon(const Resources& res, bool program) {
    const auto groups = res.find(14);  // RT_GROUP_ICON
    CHECK(groups != res.end() && !groups->second.empty());
    if (groups == res.end() || groups->second.empty()) return;
    // Explorer shows the group with the lowest ID; the program's own must be that one (an
    // installer has only the one NSIS gives its icon).
    if (program) CHECK_EQ(groups->second.begin()->first, 1u);
    const std::string& dir = groups->second.begin()->second.second;
    const unsigned count = Get16(dir, 4);
    std::set<unsigned> sizes;
    const auto icons = res.find(3);  // RT_ICON
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = 6 + i * 14;
        const unsigned width = static_cast<unsigned char>(dir.at(e));
        const unsigned height = static_cast<unsigned char>(dir.at(e + 1));
        CHECK_EQ(width, height);
        sizes.insert(width == 0 ? 256 : width);
        const unsigned id = Get16(dir, e + 12);
        CHECK(icons != res.end() && icons->second.count(id) == 1);
        if (icons != res.end() && icons->second.count(id)) {
            const std::string& image = icons->second.at(id).second;
            // A PNG, or a bitmap whose header gives the same size.
            const bool png = image.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
            CHECK(png || (image.size() > 40 && Get16(image, 0) == 40 &&
                          Get16(image, 4) == (width == 0 ? 256 : width)));
        }
    }
    CHECK((sizes == std::set<unsigned>{16, 32, 48, 256}));
}

void CheckManifest(const Resources& res, bool program) {
    const auto manifests = res.find(24);  // RT_MANIFEST
    CHECK(manifests != res.end() && manifests->second.count(1) == 1);
    if (manifests == res.end() || !manifests->second.count(1)) return;
    const std::string& text = manifests->second.at(1).second;
    // An installer must not ask for administrator rights.
    if (!program) {
        CHECK(text.find("level=\"asInvoker\"") != std::string::npos);
        return;
    }
    for (const char* needed :
         {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"", "6595b64144ccf1df",
          "level=\"asInvoker\"", ">PerMonitorV2<", ">true/pm<"}) {
        if (text.find(needed) == std::string::npos) {
            std::fprintf(stderr, "manifest lacks %s\n", needed);
            ++failures;
        }
    }
    // The settings file is read in the system's ANSI code page, not UTF-8.
    CHECK(text.find("activeCodePage") == std::string::npos);
}

}  // namespace

// usage: resource_check PROGRAM.exe
//        resource_check --installer MAJOR.MINOR.PATCH SETUP.exe   (an installer or uninstaller)
int main(int argc, char** argv) {
    const bool installer = argc == 4 && std::string(argv[1]) == "--installer";
    if (argc != 2 && !installer) {
        std::fprintf(stderr, "usage: %s PROGRAM.exe | --installer VERSION SETUP.exe\n", argv[0]);
        return 2;
    }
    WantedVersion wanted = kProgram;
    if (installer) {
        unsigned major = 0, minor = 0, patch = 0;
        if (std::sscanf(argv[2], "%u.%u.%u", &major, &minor, &patch) != 3) {
            std::fprintf(stderr, "not a version: %s\n", argv[2]);
            return 2;
        }
        wanted = {
            major << 16 | minor,
            patch << 16,
            {{"FileVersion", argv[2]}, {"ProductVersion", argv[2]}, {"ProductName", "DoredAviro"}},
            932};
    }
    const char* file = argv[argc - 1];
    std::ifstream in(file, std::ios::binary);
    Image img;
    img.bytes.assign(std::istreambuf_iterator<char>(in), {});
    try {
        uint16_t machine = 0;
        const Resources res = ReadResources(img, &machine);
        CHECK(machine == 0x8664 || machine == 0x14C);
        const auto versions = res.find(16);  // RT_VERSION
        CHECK(versions != res.end() && versions->second.count(1) == 1);
        if (versions != res.end() && versions->second.count(1)) {
            CheckVersion(versions->second.at(1).second, wanted);
        }
        CheckIcon(res, !installer);
        CheckManifest(res, !installer);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", file, e.what());
        return 1;
    }
    if (failures == 0) std::printf("%s: version record, icon and manifest as required\n", file);
    return failures == 0 ? 0 : 1;
}
