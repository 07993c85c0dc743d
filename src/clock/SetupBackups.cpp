#include "SetupBackups.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "ClockFile.h"
#include "ClockState.h"
#include "OsLayer.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

constexpr char kSuffix[] = ".hcs";
// Longer ports are cut and carry a digest of the whole name, so the file name
// stays well inside NAME_MAX with the model and time.
constexpr std::size_t kMaxKey = 120;
constexpr std::size_t kCutKey = 100;

bool IsKept(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool AllDigits(const std::string& s, std::size_t from, std::size_t count) {
    if (from + count > s.size()) return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

int Number(const std::string& s, std::size_t from, std::size_t count) {
    return std::atoi(s.substr(from, count).c_str());
}

// "20250301T101502.123Z", optionally followed by "-N" for a second backup in
// the same millisecond; the local time for display.
bool ParseStamp(const std::string& stamp, std::string& when) {
    if (stamp.size() < 20 || !AllDigits(stamp, 0, 8) || stamp[8] != 'T' || !AllDigits(stamp, 9, 6) ||
        stamp[15] != '.' || !AllDigits(stamp, 16, 3) || stamp[19] != 'Z')
        return false;
    if (stamp.size() > 20 && (stamp.size() < 22 || stamp[20] != '-' || !AllDigits(stamp, 21, stamp.size() - 21)))
        return false;
    std::tm utc{};
    utc.tm_year = Number(stamp, 0, 4) - 1900;
    utc.tm_mon = Number(stamp, 4, 2) - 1;
    utc.tm_mday = Number(stamp, 6, 2);
    utc.tm_hour = Number(stamp, 9, 2);
    utc.tm_min = Number(stamp, 11, 2);
    utc.tm_sec = Number(stamp, 13, 2);
    const std::time_t t = TimeOfUtc(utc);
    std::tm local{};
    if (t == static_cast<std::time_t>(-1) || !LocalCalendar(t, local)) return false;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    when = text;
    return true;
}

std::string NowStamp() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    UtcCalendar(t, utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
    char full[48];
    std::snprintf(full, sizeof full, "%s.%03dZ", text, static_cast<int>(ms % 1000));
    return full;
}

// A folder of ours: a link to it only when the link is ours too.
bool CheckOurFolder(const std::string& path, std::string& reason) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        reason = path + ": " + std::strerror(errno);
        return false;
    }
    const bool isLink = S_ISLNK(st.st_mode);
    if ((isLink && st.st_uid != ::geteuid()) || (isLink && ::stat(path.c_str(), &st) != 0) || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        reason = FormatString(GetString(IDS_BACKUP_FOLDER_NOT_OURS).c_str(), path.c_str());
        return false;
    }
    return true;
}

bool MakeDirectory(const std::string& path, std::string& reason) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
    reason = path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

CSetupBackups::CSetupBackups(std::string folder) : m_folder(folder.empty() ? DefaultFolder() : std::move(folder)) {}

std::string CSetupBackups::DefaultFolder() {
    const std::string base = UserDataFolder();
    if (base.empty()) return std::string();
    return JoinPath(JoinPath(base, "tarvel"), "backups");
}

std::string CSetupBackups::EncodePort(const std::string& port) {
    std::string key;
    for (unsigned char c : port) {
        if (IsKept(c)) {
            key += static_cast<char>(c);
        } else if (c == '/') {
            key += '_';
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            key += hex;
        }
    }
    if (key.size() > kMaxKey) {
        std::uint32_t digest = 2166136261u;
        for (unsigned char c : port) digest = (digest ^ c) * 16777619u;
        char tail[16];
        std::snprintf(tail, sizeof tail, "~%08X", digest);
        key = key.substr(0, kCutKey) + tail;
    }
    return key;
}

bool CSetupBackups::DecodePort(const std::string& key, std::string& port) {
    port.clear();
    for (std::size_t i = 0; i < key.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (c == '_') {
            port += '/';
        } else if (c == '%') {
            if (i + 2 >= key.size()) return false;
            const int hi = HexValue(key[i + 1]), lo = HexValue(key[i + 2]);
            if (hi < 0 || lo < 0) return false;
            port += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (IsKept(c)) {
            port += static_cast<char>(c);
        } else {
            return false;  // '~': a shortened name
        }
    }
    return true;
}

bool CSetupBackups::ParseName(const std::string& name, TBackupEntry& entry) {
    const std::size_t suffix = sizeof kSuffix - 1;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSuffix) != 0) return false;
    const std::string base = name.substr(0, name.size() - suffix);
    const std::size_t at2 = base.rfind('@');
    if (at2 == std::string::npos || at2 == 0) return false;
    const std::size_t at1 = base.rfind('@', at2 - 1);
    if (at1 == std::string::npos || at1 == 0 || at1 + 1 >= at2) return false;
    TBackupEntry e;
    e.portKey = base.substr(0, at1);
    e.model = base.substr(at1 + 1, at2 - at1 - 1);
    e.stamp = base.substr(at2 + 1);
    for (unsigned char c : e.model)
        if (!IsKept(c)) return false;
    if (!ParseStamp(e.stamp, e.when)) return false;
    if (!DecodePort(e.portKey, e.port)) {
        // Shortened: shown as it stands in the name.
        if (e.portKey.find('~') == std::string::npos) return false;
        for (unsigned char c : e.portKey)
            if (!IsKept(c) && c != '_' && c != '%' && c != '~') return false;
        e.port = e.portKey;
    }
    entry = e;
    return true;
}

bool CSetupBackups::MakeFolder(std::string& reason) const {
    if (m_folder.empty()) {
        reason = GetString(IDS_BACKUP_NO_FOLDER);
        return false;
    }
    // Every missing level is made private; the two of our own are checked.
    std::string path;
    std::size_t start = 1;
    for (;;) {
        const std::size_t slash = m_folder.find('/', start);
        path = m_folder.substr(0, slash);
        if (!path.empty() && !MakeDirectory(path, reason)) return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    const std::string parent = m_folder.substr(0, m_folder.rfind('/'));
    return CheckOurFolder(parent, reason) && CheckOurFolder(m_folder, reason);
}

bool CSetupBackups::Keep(const std::string& port, const std::string& model, const TClockConfig& record,
                         std::string& path, std::string& reason) {
    if (port.empty()) {
        reason = "no port";
        return false;
    }
    if (!MakeFolder(reason)) return false;
    CClockState state;
    *state.GetConfig() = record;
    std::ostringstream bytes;
    try {
        state.Serialize(bytes);
    } catch (const CFileError& e) {
        reason = e.GetReason();
        return false;
    }
    const std::string base = m_folder + "/" + EncodePort(port) + "@" + model + "@" + NowStamp();
    path = base + kSuffix;
    struct stat st {};
    for (int n = 2; ::lstat(path.c_str(), &st) == 0 && n < 1000; ++n) path = base + "-" + std::to_string(n) + kSuffix;
    try {
        WriteFileAtomically(path, bytes.str());
    } catch (const CFileError& e) {
        reason = e.GetReason();
        return false;
    }
    Prune(port);
    return true;
}

std::vector<TBackupEntry> CSetupBackups::List(const std::string& port, std::string* error) const {
    std::vector<TBackupEntry> entries;
    if (error) error->clear();
    if (m_folder.empty()) return entries;
    DIR* dir = ::opendir(m_folder.c_str());
    if (!dir) {
        // No folder yet: no write has kept anything.
        if (errno != ENOENT && error) *error = m_folder + ": " + std::strerror(errno);
        return entries;
    }
    const std::string key = port.empty() ? std::string() : EncodePort(port);
    while (const dirent* d = ::readdir(dir)) {
        TBackupEntry e;
        if (!ParseName(d->d_name, e)) continue;
        if (!key.empty() && e.portKey != key) continue;
        e.path = m_folder + "/" + d->d_name;
        struct stat st {};
        if (::lstat(e.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        entries.push_back(std::move(e));
    }
    ::closedir(dir);
    // Newest first; "-N" of the same millisecond after the one without.
    std::sort(entries.begin(), entries.end(), [](const TBackupEntry& a, const TBackupEntry& b) {
        const std::string sa = a.stamp.substr(0, 20), sb = b.stamp.substr(0, 20);
        if (sa != sb) return sa > sb;
        if (a.stamp.size() != b.stamp.size()) return a.stamp.size() > b.stamp.size();
        if (a.stamp != b.stamp) return a.stamp > b.stamp;
        return a.path < b.path;
    });
    return entries;
}

void CSetupBackups::Prune(const std::string& port) const {
    const std::vector<TBackupEntry> entries = List(port);
    for (std::size_t i = KEEP_PER_PORT; i < entries.size(); ++i) ::unlink(entries[i].path.c_str());
}

TPreWriteResult PrepareWrite(CClockState& state, CCommPort& port, const std::string& portName,
                             const TClockConfig& toWrite, bool force, CSetupBackups& backups,
                             const TClockConfig* clockRead) {
    TPreWriteResult result;
    TClockConfig held{};
    if (clockRead) {
        held = *clockRead;
    } else if (const TClockResult read = state.ReadConfig(held, port, true); !read) {
        result.outcome = TPreWrite::ReadFailed;
        result.readFailure = read;
        return result;
    }
    if (!force && std::memcmp(&held, &toWrite, sizeof held) == 0) {
        result.outcome = TPreWrite::AlreadyHeld;
        return result;
    }
    std::string model;
    if (!state.GetModelName(model) || model.empty()) model = "unknown";
    if (!backups.Keep(portName, model, held, result.backupPath, result.reason)) {
        result.outcome = TPreWrite::KeepFailed;
        return result;
    }
    result.outcome = TPreWrite::Proceed;
    return result;
}
