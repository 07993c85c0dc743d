// The project's headers come before <windows.h>: its macros rename
// LoadString, GetProfileString and others to their A/W forms.
#include "OsLayer.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // libstdc++ defines it already
#define NOMINMAX
#endif
#include <windows.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// Bad sequences become U+FFFD rather than an exception: names come from
// files, the profile and what the user typed.
std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), needed);
    return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
    if (wide.empty() || wide.size() > INT_MAX) return std::string();
    const int size = static_cast<int>(wide.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), needed, nullptr, nullptr);
    return text;
}

// A known folder, else the environment variable that names it.
std::string KnownFolder(REFKNOWNFOLDERID id, const wchar_t* variable) {
    PWSTR found = nullptr;
    std::string folder;
    if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &found) == S_OK && found) folder = Utf8FromWide(found);
    ::CoTaskMemFree(found);
    if (folder.empty()) {
        const wchar_t* value = ::_wgetenv(variable);
        if (value) folder = Utf8FromWide(value);
    }
    return folder;
}

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& text) { return std::filesystem::path(WideFromUtf8(text)); }

std::string Utf8FromPath(const std::filesystem::path& path) { return Utf8FromWide(path.native()); }

std::string JoinPath(const std::string& folder, const std::string& name) {
    return Utf8FromPath(PathFromUtf8(folder) / PathFromUtf8(name));
}

std::string UserConfigFolder() {
    const std::string folder = KnownFolder(FOLDERID_RoamingAppData, L"APPDATA");
    return folder.empty() ? "." : folder;
}

std::string UserDataFolder() { return KnownFolder(FOLDERID_LocalAppData, L"LOCALAPPDATA"); }

void SetBinaryStandardStreams() {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

bool UtcCalendar(std::time_t t, std::tm& out) { return ::gmtime_s(&out, &t) == 0; }

bool LocalCalendar(std::time_t t, std::tm& out) { return ::localtime_s(&out, &t) == 0; }

std::time_t TimeOfUtc(std::tm& utc) { return ::_mkgmtime(&utc); }

unsigned long ProcessId() { return ::GetCurrentProcessId(); }
