// Setup files and dumps on disk, for the menu commands and tarvelctl.
// Every failure throws CFileError; a failed save or dump leaves the old file
// as it was.
#pragma once

#include <string>

#include "ClockState.h"
#include "SafeFile.h"

// Loads a setup file into state. Throws CFileError (OPEN_FAILED when the file
// cannot be opened, READ_FAILED when it cannot be read or is cut short);
// returns Refused, after telling the user, for a wrong signature or revision.
// A device, pipe or folder is refused (OPEN_FAILED) without waiting on it.
TLoadResult LoadConfigFile(CClockState& state, const std::string& path);

// Saves the setup: the new file replaces the old one only once it is complete.
void SaveConfigFile(const CClockState& state, const std::string& path);

// Writes the text dump, created or replaced the same way.
void DumpConfigFile(const CClockState& state, const std::string& path);

// Replaces path with bytes: written to a temporary file in the same directory,
// synced, then renamed over path while holding the file's lock (see
// CSetupFileLock). A symbolic link is followed, so the file it names is
// replaced, but only where the kernel would follow it (not another user's
// link in a sticky, world-writable folder such as /tmp); a dangling link
// creates its target. A path naming a device, pipe or folder is refused.
// Every failure throws WRITE_FAILED; the temporary is removed and the old
// file left untouched.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

// Holds the advisory lock of a setup file for a whole read-modify-write, so
// two writers (tarvelctl set, the program's save) cannot lose each other's
// change. Saves take the same lock, so a save by the holding thread goes
// ahead. Nothing is created: a missing file is not locked.
class CSetupFileLock {
public:
    // How long a second writer waits before giving up.
    static constexpr unsigned WAIT_MS = 5000;

    CSetupFileLock() = default;
    // Throws CFileError (WRITE_FAILED) when the lock stayed taken for waitMs,
    // or path names a link that must not be followed or no regular file.
    void Lock(const std::string& path, unsigned waitMs = WAIT_MS);

private:
    CFileLock m_lock;
};
