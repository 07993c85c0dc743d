#include "OsLayer.h"

#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return ".";
}

}  // namespace

// File names are bytes here; whatever the user's file has, it keeps.
std::filesystem::path PathFromUtf8(const std::string& text) { return std::filesystem::path(text); }

std::string Utf8FromPath(const std::filesystem::path& path) { return path.string(); }

std::string JoinPath(const std::string& folder, const std::string& name) { return folder + "/" + name; }

std::string UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;  // relative values are invalid and ignored
    return HomeDirectory() + "/.config";
}

std::string UserDataFolder() {
    // A relative XDG_DATA_HOME is to be ignored, as if unset.
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return std::string();
        base = std::string(home) + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

// Streams carry bytes as they are.
void SetBinaryStandardStreams() {}

bool UtcCalendar(std::time_t t, std::tm& out) { return ::gmtime_r(&t, &out) != nullptr; }

bool LocalCalendar(std::time_t t, std::tm& out) { return ::localtime_r(&t, &out) != nullptr; }

std::time_t TimeOfUtc(std::tm& utc) { return ::timegm(&utc); }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }
