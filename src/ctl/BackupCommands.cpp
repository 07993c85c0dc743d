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
#include "Resource.h"
#include "SetupBackups.h"
#include "StringTable.h"

namespace {

// A port given after the command wins over one given before it; none: all.
std::string GivenPort(const CCommandLine& global, const CCommandLine& args) {
    if (args.Has("port")) return args.GetValue("port");
    return global.GetValue("port");
}

int RunBackups(const CCommandLine& global, const CCommandLine& args) {
    const CSetupBackups backups;
    const std::vector<TBackupEntry> entries = backups.List(GivenPort(global, args));
    std::size_t width = 4;
    for (const auto& e : entries) width = std::max(width, e.port.size());
    for (const auto& e : entries) {
        std::string port = e.port;
        port.resize(width, ' ');
        std::printf("%s  %s  %-4s  %s\n", e.when.c_str(), port.c_str(), e.model.c_str(), e.path.c_str());
    }
    return FinishStdout();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int RunRestore(const CCommandLine& global, const CCommandLine& args) {
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
        const std::string port = CtlPortName(global, args);
        const std::vector<TBackupEntry> entries = backups.List(port);
        if (entries.empty()) {
            ReportError("no backup of port " + port + " in " + backups.Folder());
            return CTL_FAILED;
        }
        path = entries.front().path;
        model = entries.front().model;
    }

    CClockState loaded;
    if (!LoadOrReport(loaded, path)) return CTL_FAILED;
    std::printf("restoring %s\n", path.c_str());
    std::fflush(stdout);
    return WriteSetupToClock("restore", global, args, *loaded.GetConfig(), model);
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
                     {{"port", 0, "DEV", "only the backups of this port"}}, 0, 0, RunBackups});
    table.push_back({"restore", "[BACKUP]", "Write a kept setup back into the clock, as write does.",
                     "BACKUP is a setup file, or a backup's name as backups lists it; without it,\n"
                     "the newest backup of the port (--port, else the stored one). The backup's\n"
                     "model is used unless --model is given. Like write, it keeps the clock's\n"
                     "setup first, so a restore can be undone too.\n",
                     RestoreOptions(), 0, 1, RunRestore});
}
