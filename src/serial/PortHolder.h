// Who holds a serial device the port could not have: the processes with it
// open, the owner of its lock (flock or a UUCP lock file), and what to do
// about the programs known to grab serial devices on their own.
#pragma once

#include <string>
#include <vector>

// Where to look; tests point these at a tree of their own.
struct TPortHolderRoots {
    std::string proc = "/proc";
    std::string lockDirs[2] = {"/run/lock", "/var/lock"};
};

class CPortHolder {
public:
    using TRoots = TPortHolderRoots;

    struct THolder {
        int pid = 0;
        std::string name;  // the process's command name, as ps shows it
    };

    // Holders of path, each process once, in pid order. Processes of other
    // users show up through their locks even where their descriptors cannot
    // be read.
    static std::vector<THolder> Find(const std::string& path, const TRoots& roots = TRoots());

    // The hint for a device that is busy: who has it and, for a program known
    // to take serial devices, what to do. Falls back to the plain "in use" line.
    static std::string BusyHint(const std::string& path, const TRoots& roots = TRoots());

    // A line for a USB serial device that is missing while a program that
    // takes such adapters runs (brltty); empty when nothing points that way.
    static std::string VanishedHint(const std::string& path, const TRoots& roots = TRoots());

    // The running processes called name (exactly, as in /proc/PID/comm).
    static std::vector<int> FindProcesses(const std::string& name, const std::string& procRoot = "/proc");
};
