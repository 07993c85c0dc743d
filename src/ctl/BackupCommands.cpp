// The clock setups kept before each write: backups lists them, restore writes
// one back into the clock.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlClockUi.h"
#include "CtlCommand.h"
#include "CtlJson.h"
#include "PortSession.h"
#include "Resource.h"
#include "SetupBackups.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

// A port given after the command wins over one given before it; none: all.
std::string GivenPort(const CCommandLine& global, const CCommandLine& args) {
    if (args.Has("port")) return args.GetValue("port");
    return global.GetValue("port");
}

// "20250301T101502.123Z" as "2025-03-01T10:15:02.123Z"; the stamp is checked.
std::string StampUtc(const std::string& stamp) {
    return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + "T" + stamp.substr(9, 2) + ":" +
           stamp.substr(11, 2) + ":" + stamp.substr(13, 7);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The backups of a port (all with an empty one); false (reported) when the
// folder is there but cannot be read.
bool ListBackups(const CSetupBackups& backups, const std::string& port, std::vector<TBackupEntry>& entries) {
    std::string error;
    entries = backups.List(port, &error);
    if (error.empty()) return true;
    ReportError(FormatString(GetString(IDS_BACKUPS_UNREADABLE).c_str(), error.c_str()));
    return false;
}

int RunBackups(const CCommandLine& global, const CCommandLine& args) {
    const CSetupBackups backups;
    std::vector<TBackupEntry> entries;
    if (!ListBackups(backups, GivenPort(global, args), entries)) return CTL_FAILED;
    if (args.Has("json")) {
        nlohmann::ordered_json doc = JsonDocument("backups");
        doc["folder"] = backups.Folder();
        doc["backups"] = nlohmann::ordered_json::array();
        for (const auto& e : entries)
            doc["backups"].push_back({{"name", BaseName(e.path)},
                                      {"file", e.path},
                                      {"port", e.port},
                                      {"model", e.model},
                                      {"utc", StampUtc(e.stamp)},
                                      {"local_time", e.when}});
        return WriteJson(doc) ? CTL_DONE : CTL_FAILED;
    }
    // The names come from the folder: shown, never acted on by the terminal.
    std::size_t width = 4;
    for (const auto& e : entries) width = std::max(width, VisibleText(e.port).size());
    for (const auto& e : entries) {
        std::string port = VisibleText(e.port);
        port.resize(width, ' ');
        std::printf("%s  %s  %-4s  %s\n", VisibleText(e.when).c_str(), port.c_str(), VisibleText(e.model).c_str(),
                    VisibleText(e.path).c_str());
    }
    return FinishStdout();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// After any write the newest backup is often the very setup the clock holds
// now, so restoring it would change nothing: the newest one that differs is
// written back.
int RestoreNewest(const CCommandLine& global, const CCommandLine& args, const CSetupBackups& backups,
                  long countdownSeconds) {
    const std::string port = CtlPortName(global, args);
    std::vector<TBackupEntry> entries;
    if (!ListBackups(backups, port, entries)) return CTL_FAILED;
    if (entries.empty()) {
        ReportError("no backup of port " + port + " in " + backups.Folder());
        return CTL_FAILED;
    }
    TClockConfig held{};
    {
        CPortSession session;
        if (const int rc = OpenCommandSession("restore", global, args, session); rc != CTL_DONE) return rc;
        // The clock is asked in the backups' model unless --model names one.
        const int model = CClockModel::FindModel(entries.front().model, true);
        if (!args.Has("model") && !global.Has("model") && model >= 0) session.State().SetModel(model);
        if (const TClockResult read = session.State().ReadConfig(held, session.Port(), true); !read)
            return ReportClockFailure("restore", false,
                                      "reading the setup from the clock failed: " + GetString(IDS_READ_FAILED), read);
    }
    unsigned skipped = 0;
    for (const auto& entry : entries) {
        CClockState loaded;
        if (!LoadOrReport(loaded, entry.path)) continue;
        if (std::memcmp(loaded.GetConfig(), &held, sizeof held) == 0) {
            ++skipped;
            continue;
        }
        const std::string shown = VisibleText(entry.path);
        if (skipped == 0)
            std::printf("restoring %s\n", shown.c_str());
        else
            std::printf("%s\n", FormatString(GetString(IDS_RESTORE_SKIPPED).c_str(), shown.c_str(), skipped).c_str());
        std::fflush(stdout);
        return WriteSetupToClock("restore", global, args, *loaded.GetConfig(), countdownSeconds, entry.model, &held);
    }
    ReportError(FormatString(GetString(IDS_RESTORE_NOTHING).c_str(), port.c_str()));
    return CTL_FAILED;
}

int RunRestore(const CCommandLine& global, const CCommandLine& args) {
    long seconds = 0;
    if (const int rc = ParseCountdown("restore", args, seconds); rc != CTL_DONE) return rc;
    const CSetupBackups backups;
    std::string path;
    std::string model;
    if (!args.GetArgs().empty()) {
        // A backup's own name (as backups lists it) is found in the folder.
        path = args.GetArgs()[0];
        if (!Exists(path) && path.find('/') == std::string::npos && Exists(backups.Folder() + "/" + path))
            path = backups.Folder() + "/" + path;
        TBackupEntry entry;
        const std::size_t slash = path.rfind('/');
        if (CSetupBackups::ParseName(slash == std::string::npos ? path : path.substr(slash + 1), entry))
            model = entry.model;
    } else {
        return RestoreNewest(global, args, backups, seconds);
    }

    CClockState loaded;
    if (!LoadOrReport(loaded, path)) return CTL_FAILED;
    std::printf("restoring %s\n", VisibleText(path).c_str());
    std::fflush(stdout);
    return WriteSetupToClock("restore", global, args, *loaded.GetConfig(), seconds, model);
}

std::vector<TCtlOption> RestoreOptions() {
    std::vector<TCtlOption> options = WriteOptions();
    AddPortOptions(options);
    return options;
}

}  // namespace

void AddBackupCommands(std::vector<TCtlCommand>& table) {
    table.push_back({"backups", "[--port DEV]", "List the clock setups kept before writes, newest first.",
                     "Each line: the local time of the backup, the port, the model and the file.\n"
                     "write and restore keep the clock's setup before they change it, the newest\n"
                     "50 of each port, in $XDG_DATA_HOME/tarvel/backups (else\n"
                     "~/.local/share/tarvel/backups). Only those of DEV with --port.\n",
                     {{"port", 0, "DEV", "only the backups of this port"},
                      {"json", 0, nullptr, "print the backups as JSON (see docs/json.md)"}},
                     0, 0, RunBackups});
    table.push_back({"restore", "[BACKUP]", "Write a kept setup back into the clock, as write does.",
                     "BACKUP is a setup file, or a backup's name as backups lists it; without it,\n"
                     "the newest backup of the port (--port, else the stored one) that differs from\n"
                     "the setup the clock holds now, and stdout says which. The backup's\n"
                     "model is used unless --model is given. Like write, it keeps the clock's\n"
                     "setup first, so a restore can be undone too.\n",
                     RestoreOptions(), 0, 1, RunRestore});
}
