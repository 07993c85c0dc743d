#include "Profile.h"

#include <cstdio>
#include <climits>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "OsLayer.h"
#include "ProfileKeys.h"
#include "Resource.h"
#include "SafeFile.h"
#include "StringTable.h"
#include "TextUtil.h"
#include "Trace.h"

namespace {

std::mutex g_fileMutex;  // one reader or writer of the file at a time
std::mutex g_nameMutex;  // guards the two names below
std::string g_appName = "tarvel";
std::string g_overridePath;
unsigned g_tempSerial = 0;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One physical line of the file: its bytes without the terminator, and the
// terminator itself ("\n", "\r\n" or nothing for a last line without one), so
// that lines we do not touch are written back exactly as they were.
struct TLine {
    std::string text;
    std::string eol;
};

enum class ELineKind { Blank, Comment, Section, Key, Other };

struct TParsed {
    ELineKind kind = ELineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed and unquoted
};

TParsed ParseLine(std::string_view line) {
    TParsed p;
    // CRs before the line end are line-end debris, never part of a value.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view t = Trim(line);
    if (t.empty()) {
        p.kind = ELineKind::Blank;
    } else if (t.front() == ';' || t.front() == '#') {
        p.kind = ELineKind::Comment;
    } else if (t.front() == '[') {
        p.kind = ELineKind::Section;
        std::string_view inner = t.substr(1);
        std::size_t close = inner.find(']');
        if (close != std::string_view::npos) inner = inner.substr(0, close);
        p.name = Trim(inner);
    } else if (std::size_t eq = t.find('='); eq != std::string_view::npos) {
        p.kind = ELineKind::Key;
        p.name = Trim(t.substr(0, eq));
        std::string_view v = Trim(t.substr(eq + 1));
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        p.value = v;
    }
    return p;
}

// Ends a last line that had none; a CR there began a line end cut short.
void EndLine(TLine& line, const std::string& eol) {
    if (!line.eol.empty()) return;
    while (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    line.eol = eol;
}

std::vector<TLine> SplitLines(const std::string& bytes) {
    std::vector<TLine> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t nl = bytes.find('\n', pos);
        TLine line;
        if (nl == std::string::npos) {
            line.text = bytes.substr(pos);
            pos = bytes.size();
        } else {
            std::size_t end = nl;
            if (end > pos && bytes[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = bytes.substr(pos, end - pos);
            pos = nl + 1;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// A profile is a few hundred bytes; anything past this is not ours to load
// (or to rewrite), whatever the path points at.
constexpr std::size_t kMaxProfileBytes = 16u << 20;

// Reads the whole file. A missing file is an empty profile; any other failure
// is reported so that a write never replaces a file it could not read.
bool ReadFileBytes(const std::string& path, std::string& out, bool& exists) {
    out.clear();
    exists = false;
    const TFileKind kind = FileKind(path, true);
    if (kind == TFileKind::Missing) return true;
    if (kind == TFileKind::Unreadable) return false;
    exists = true;
    // A pipe or device in its place is not read: it could block for good.
    std::string reason;
    int fd = OpenRegularFile(path, reason);
    if (fd < 0) return false;
    char buf[65536];
    for (;;) {
        const long long n = ReadSome(fd, buf, sizeof buf);
        if (n < 0) {
            CloseFile(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > kMaxProfileBytes) {
            CloseFile(fd);
            out.clear();
            return false;
        }
    }
    CloseFile(fd);
    return true;
}

// Looks a key up; false when the section or key is missing.
bool FindValue(const std::string& bytes, std::string_view section, std::string_view key,
               std::string& value) {
    section = Trim(section);
    key = Trim(key);
    bool inSection = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t nl = bytes.find('\n', pos);
        std::size_t end = nl == std::string::npos ? bytes.size() : nl;
        TParsed p = ParseLine(std::string_view(bytes).substr(pos, end - pos));
        pos = end + 1;
        if (p.kind == ELineKind::Section) {
            inSection = EqualNoCase(p.name, section);
        } else if (inSection && p.kind == ELineKind::Key && EqualNoCase(p.name, key)) {
            value.assign(p.value);
            return true;
        }
    }
    return false;
}

bool LookUp(const std::string& section, const std::string& key, std::string& value) {
    std::lock_guard<std::mutex> lock(g_fileMutex);
    std::string bytes;
    bool exists = false;
    if (!ReadFileBytes(GetProfilePath(), bytes, exists) || !exists) return false;
    return FindValue(bytes, section, key, value);
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Names and values that would read back differently, or would inject lines
// into the file, are refused rather than written.
bool IsWritable(std::string_view section, std::string_view key, std::string_view value) {
    std::string_view s = Trim(section);
    std::string_view k = Trim(key);
    if (s.empty() || k.empty()) return false;
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value))
        return false;
    if (s.find(']') != std::string_view::npos) return false;
    if (k.find('=') != std::string_view::npos) return false;
    if (k.front() == '[' || k.front() == ';' || k.front() == '#') return false;
    return true;
}

// The new file contents with one key set.
std::string SetValue(const std::string& bytes, std::string_view section, std::string_view key,
                     std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    std::vector<TLine> lines = SplitLines(bytes);
    std::string eol = "\n";
    for (const TLine& l : lines) {
        if (!l.eol.empty()) {
            eol = l.eol;
            break;
        }
    }

    bool inSection = false;
    bool inFirst = false;  // inside the first section of that name
    std::size_t insertAfter = std::string::npos;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        TParsed p = ParseLine(lines[i].text);
        if (p.kind == ELineKind::Section) {
            inSection = EqualNoCase(p.name, section);
            inFirst = inSection && insertAfter == std::string::npos;
            if (inFirst) insertAfter = i;
            continue;
        }
        if (!inSection) continue;
        if (p.kind == ELineKind::Key && EqualNoCase(p.name, key)) {
            // Keep the key as the file spells it.
            lines[i].text = std::string(p.name) + "=" + std::string(value);
            std::string out;
            for (const TLine& l : lines) out += l.text + l.eol;
            return out;
        }
        // New keys go after the section's last entry, before trailing blank
        // and comment lines that may belong to the next section.
        if (inFirst && (p.kind == ELineKind::Key || p.kind == ELineKind::Other)) insertAfter = i;
    }

    TLine newKey{std::string(key) + "=" + std::string(value), eol};
    if (insertAfter != std::string::npos) {
        EndLine(lines[insertAfter], eol);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1, newKey);
    } else {
        if (!lines.empty()) {
            EndLine(lines.back(), eol);
            if (ParseLine(lines.back().text).kind != ELineKind::Blank) lines.push_back({"", eol});
        }
        lines.push_back({"[" + std::string(section) + "]", eol});
        lines.push_back(newKey);
    }
    std::string out;
    for (const TLine& l : lines) out += l.text + l.eol;
    return out;
}

// How long a write waits for another running copy to finish its own.
constexpr unsigned kLockWaitMs = 10000;

bool Store(const std::string& section, const std::string& key, const std::string& value) {
    if (!IsWritable(section, key, value)) {
        TRACE("WriteProfileString(): refused [%s] %s\n", section.c_str(), key.c_str());
        return false;
    }
    std::lock_guard<std::mutex> lock(g_fileMutex);
    namespace fs = std::filesystem;
    const std::string named = GetProfilePath();
    std::string path;

    // Write through a symbolic link rather than replacing the link itself,
    // where the kernel would follow it.
    std::string reason;
    if (!ResolveSaveTarget(named, path, reason)) {
        TRACE("WriteProfileString(): %s: %s\n", named.c_str(), reason.c_str());
        return false;
    }

    std::error_code ec;
    const fs::path dir = PathFromUtf8(path).parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);
    if (ec) return false;

    // The profile itself is the lock (created empty when missing), so two
    // running copies never tear it and no lock file is left beside it.
    CFileLock fileLock;
    if (fileLock.Lock(path, kLockWaitMs, true) != CFileLock::LOCKED) return false;

    std::string bytes;
    bool exists = false;
    if (!ReadFileBytes(path, bytes, exists)) return false;
    const std::string updated = SetValue(bytes, section, key, value);
    return ReplaceFileContents(path, updated, [](const std::string& name) {
        return name + ".tmp" + std::to_string(ProcessId()) + "." + std::to_string(g_tempSerial++);
    });
}

}  // namespace

void SetProgramName(const std::string& argv0) {
    std::string title = Utf8FromPath(PathFromUtf8(argv0).filename());
    // The title drops the last extension only: "my.tool.bin" is "my.tool".
    std::size_t dot = title.rfind('.');
    if (dot != std::string::npos && dot > 0) title.erase(dot);
    if (title.empty()) return;
    std::lock_guard<std::mutex> lock(g_nameMutex);
    g_appName = title;
}

const std::string& GetAppName() {
    return g_appName;
}

std::string GetProfilePath() {
    std::lock_guard<std::mutex> lock(g_nameMutex);
    if (!g_overridePath.empty()) return g_overridePath;
    return JoinPath(UserConfigFolder(), g_appName + ".INI");
}

void SetProfilePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_nameMutex);
    g_overridePath = path;
}

int GetProfileInt(const std::string& section, const std::string& key, int def) {
    std::string text;
    if (!LookUp(section, key, text) || text.empty()) return def;
    // A leading signed decimal; text without one gives 0, out of range saturates.
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (text[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) n = -n;
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& def) {
    std::string text;
    if (!LookUp(section, key, text)) return def;
    return text;
}

namespace {

std::mutex g_noticeMutex;
ProfileNoticeSink g_noticeSink;

void TellNotice(const std::string& text) {
    ProfileNoticeSink sink;
    {
        std::lock_guard<std::mutex> lock(g_noticeMutex);
        sink = g_noticeSink;
    }
    if (sink) {
        sink(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

void SetProfileNoticeSink(ProfileNoticeSink sink) {
    std::lock_guard<std::mutex> lock(g_noticeMutex);
    g_noticeSink = std::move(sink);
}

int GetProfileDelayMs(const std::string& key, int def) {
    const int ms = GetProfileInt(ProfileKeys::COMMUNICATION, key, def);
    if (ms >= 0 && ms <= MAX_PROFILE_DELAY_MS) return ms;
    const int used = ms < 0 ? 0 : MAX_PROFILE_DELAY_MS;
    static std::mutex toldMutex;
    static std::set<std::string> told;
    bool tell = false;
    {
        std::lock_guard<std::mutex> lock(toldMutex);
        tell = told.insert(key).second;
    }
    if (tell)
        TellNotice(FormatString(GetString(IDS_PROFILE_DELAY_CLAMPED).c_str(), key.c_str(), ms,
                                MAX_PROFILE_DELAY_MS, used));
    return used;
}

bool WriteProfileInt(const std::string& section, const std::string& key, int value) {
    return Store(section, key, std::to_string(value));
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value) {
    return Store(section, key, value);
}
