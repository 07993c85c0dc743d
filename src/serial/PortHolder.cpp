#include "PortHolder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace fs = std::filesystem;

namespace {

bool IsPid(const std::string& text) {
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The first line of a small file, at most a few hundred bytes of it.
std::string ReadSmall(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text(256, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return std::string(Trim(FirstLine(text)));
}

std::string CommandName(const std::string& procRoot, int pid) {
    return ReadSmall(fs::path(procRoot) / std::to_string(pid) / "comm");
}

bool ProcessExists(const std::string& procRoot, int pid) {
    std::error_code ec;
    return pid > 0 && fs::is_directory(fs::path(procRoot) / std::to_string(pid), ec);
}

void AddHolder(std::vector<CPortHolder::THolder>& holders, const std::string& procRoot, int pid) {
    for (const auto& h : holders)
        if (h.pid == pid) return;
    std::string name = CommandName(procRoot, pid);
    if (name.empty()) name = "?";
    holders.push_back({pid, name});
}

// Processes with the device open, as far as their descriptors may be read.
// The links are read, never followed: following one could hang on a file of
// a stalled network or FUSE mount.
void FromDescriptors(const std::string& device, const std::string& procRoot,
                     std::vector<CPortHolder::THolder>& holders) {
    std::error_code ec;
    for (fs::directory_iterator proc(procRoot, ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string pidText = proc->path().filename().string();
        if (!IsPid(pidText)) continue;
        std::error_code fdEc;
        for (fs::directory_iterator fd(proc->path() / "fd", fdEc); !fdEc && fd != end; fd.increment(fdEc)) {
            std::error_code linkEc;
            if (fs::read_symlink(fd->path(), linkEc) == device && !linkEc) {
                AddHolder(holders, procRoot, std::stoi(pidText));
                break;
            }
        }
    }
}

// flock and POSIX locks on the device's node, readable for every process:
// "1: FLOCK  ADVISORY  WRITE 812 00:05:1234 0 EOF". Waiters ("1: -> FLOCK")
// do not hold the lock.
void FromLockTable(const struct stat& device, const std::string& procRoot,
                   std::vector<CPortHolder::THolder>& holders) {
    std::ifstream in(fs::path(procRoot) / "locks");
    std::string line;
    for (int lines = 0; lines < 100000 && std::getline(in, line); ++lines) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pidText, where;
        fields >> number >> kind;
        if (kind == "->") continue;
        fields >> mode >> access >> pidText >> where;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        char tail = 0;
        if (!IsPid(pidText) ||
            std::sscanf(where.c_str(), "%x:%x:%llu%c", &major, &minor, &inode, &tail) != 3)
            continue;
        if (major == ::major(device.st_dev) && minor == ::minor(device.st_dev) && inode == device.st_ino) {
            const int pid = std::stoi(pidText);
            if (ProcessExists(procRoot, pid)) AddHolder(holders, procRoot, pid);
        }
    }
}

// UUCP lock files, as minicom, cu and picocom leave them: LCK..ttyUSB0 with
// the owner's pid in text (or, from old programs, as a binary int).
void FromLockFiles(const std::string& path, const CPortHolder::TRoots& roots,
                   std::vector<CPortHolder::THolder>& holders) {
    std::error_code ec;
    const std::string device = fs::canonical(path, ec).filename().string();
    if (ec || device.empty()) return;
    for (const auto& dir : roots.lockDirs) {
        if (dir.empty()) continue;
        const fs::path lock = fs::path(dir) / ("LCK.." + device);
        if (!fs::is_regular_file(lock, ec)) continue;
        std::ifstream in(lock, std::ios::binary);
        char raw[16] = {};
        in.read(raw, sizeof raw - 1);
        const std::streamsize got = in.gcount();
        const std::string content(raw, static_cast<std::size_t>(std::max<std::streamsize>(got, 0)));
        const std::string text(Trim(FirstLine(content)));
        int pid = 0;
        if (IsPid(text)) {
            pid = std::stoi(text);
        } else if (got == 4) {
            int binary = 0;
            std::copy(raw, raw + 4, reinterpret_cast<char*>(&binary));
            pid = binary;
        }
        if (ProcessExists(roots.proc, pid)) AddHolder(holders, roots.proc, pid);
    }
}

std::string Advice(const std::string& name) {
    if (name == "ModemManager") return GetString(IDS_PORT_HOLDER_MODEMMANAGER);
    if (name == "brltty") return GetString(IDS_PORT_HOLDER_BRLTTY);
    return std::string();
}

bool IsUsbSerialName(const std::string& path) {
    const std::string base = fs::path(path).filename().string();
    return base.rfind("ttyUSB", 0) == 0 || base.rfind("ttyACM", 0) == 0 ||
           path.rfind("/dev/serial/by-id/usb-", 0) == 0 || path.rfind("/dev/serial/by-path/", 0) == 0;
}

}  // namespace

std::vector<CPortHolder::THolder> CPortHolder::Find(const std::string& path, const TRoots& roots) {
    std::vector<THolder> holders;
    struct stat device {};
    if (::stat(path.c_str(), &device) == 0) {
        FromLockTable(device, roots.proc, holders);
        std::error_code ec;
        const fs::path canonical = fs::canonical(path, ec);
        if (!ec) FromDescriptors(canonical.string(), roots.proc, holders);
    }
    FromLockFiles(path, roots, holders);
    std::sort(holders.begin(), holders.end(), [](const THolder& a, const THolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string CPortHolder::BusyHint(const std::string& path, const TRoots& roots) {
    const std::vector<THolder> holders = Find(path, roots);
    if (holders.empty()) return GetString(IDS_PORT_IN_USE);
    std::string who;
    std::string advice;
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (i) who += i + 1 == holders.size() ? " and " : ", ";
        who += FormatString(GetString(IDS_PORT_HOLDER).c_str(), holders[i].name.c_str(), holders[i].pid);
        const std::string more = Advice(holders[i].name);
        if (!more.empty() && advice.find(more) == std::string::npos) advice += "\n" + more;
    }
    return FormatString(GetString(IDS_PORT_IN_USE_BY).c_str(), who.c_str()) + advice;
}

std::string CPortHolder::VanishedHint(const std::string& path, const TRoots& roots) {
    if (!IsUsbSerialName(path)) return std::string();
    const std::vector<int> brltty = FindProcesses("brltty", roots.proc);
    if (brltty.empty()) return std::string();
    return FormatString(GetString(IDS_PORT_TAKEN_BY_BRLTTY).c_str(), brltty.front()) + "\n" +
           GetString(IDS_PORT_HOLDER_BRLTTY);
}

std::vector<int> CPortHolder::FindProcesses(const std::string& name, const std::string& procRoot) {
    std::vector<int> pids;
    std::error_code ec;
    for (fs::directory_iterator proc(procRoot, ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string pidText = proc->path().filename().string();
        if (IsPid(pidText) && CommandName(procRoot, std::stoi(pidText)) == name) pids.push_back(std::stoi(pidText));
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}
