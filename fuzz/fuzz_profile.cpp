// The private profile: whatever the file holds (edited by hand, cut short,
// binary), looked up and written back. Input: the file's bytes, optionally
// followed by "\0SECTION\0KEY\0VALUE" for one write.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "Profile.h"

namespace {

std::string g_path;

const std::vector<std::pair<std::string, std::string>>& KnownKeys() {
    static const std::vector<std::pair<std::string, std::string>> keys{
        {"Communication", "CommPort"},   {"Communication", "Mode"},     {"Communication", "Model"},
        {"Communication", "CharDelay"},  {"Communication", "ReadTimeOut"}, {"Communication", "WriteTimeOut"},
        {"Communication", "AutoOpen"},   {"Debug", "Verbose"},          {"Intelligence", "AutoOpen"},
        {"Window", "Geometry"}};
    return keys;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// What a written value reads back as: trimmed, surrounding quotes dropped.
std::string ReadBackForm(std::string_view v) {
    v = Trim(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return std::string(v);
}

void WriteFile(const char* data, std::size_t size) {
    const int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

const char kMissing[] = "\x01missing";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = std::string(base) + "/tarvel-fuzz-profile.XXXXXX";
    FUZZ_CHECK(::mkdtemp(dir.data()) != nullptr);
    g_path = dir + "/tarvel.INI";
    SetProfilePath(g_path);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The last three NULs split off a write; without them the whole input is the file.
    std::string file = input, section, key, value;
    bool write = false;
    const std::size_t z3 = input.rfind('\0');
    if (z3 != std::string::npos && z3 > 0) {
        const std::size_t z2 = input.rfind('\0', z3 - 1);
        if (z2 != std::string::npos && z2 > 0) {
            const std::size_t z1 = input.rfind('\0', z2 - 1);
            if (z1 != std::string::npos) {
                file = input.substr(0, z1);
                section = input.substr(z1 + 1, z2 - z1 - 1);
                key = input.substr(z2 + 1, z3 - z2 - 1);
                value = input.substr(z3 + 1);
                write = true;
            }
        }
    }
    WriteFile(file.data(), file.size());

    std::vector<std::string> before;
    for (const auto& [s, k] : KnownKeys()) {
        before.push_back(GetProfileString(s, k, kMissing));
        GetProfileInt(s, k, -7);
    }
    if (!write) return 0;
    GetProfileString(section, key, kMissing);
    GetProfileInt(section, key, 0);
    if (!WriteProfileString(section, key, value)) {
        // Refused: the file is as it was.
        for (std::size_t i = 0; i < KnownKeys().size(); ++i)
            FUZZ_CHECK(GetProfileString(KnownKeys()[i].first, KnownKeys()[i].second, kMissing) == before[i]);
        return 0;
    }
    // Written: the key reads back as written, and no other key changed.
    FUZZ_CHECK(GetProfileString(section, key, kMissing) == ReadBackForm(value));
    for (std::size_t i = 0; i < KnownKeys().size(); ++i) {
        const auto& [s, k] = KnownKeys()[i];
        if (EqualNoCase(s, section) && EqualNoCase(k, key)) continue;
        FUZZ_CHECK(GetProfileString(s, k, kMissing) == before[i]);
    }
    return 0;
}
