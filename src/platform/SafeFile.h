// Opening, replacing and locking the user's files (setups, dumps, the profile)
// without hanging on a pipe, writing into a device, following a link the
// kernel itself would refuse, or leaving lock files behind.
#pragma once

#include <sys/types.h>

#include <string>

// Opens path for reading without blocking (a FIFO never stalls the caller)
// and accepts only a regular file. -1 with reason set otherwise.
int OpenRegularFile(const std::string& path, std::string& reason);

// The file a save to path must replace. A symbolic link is followed, link by
// link, only where the kernel would follow it (fs.protected_symlinks): in a
// sticky, world-writable folder only a link owned by the folder's owner or by
// us. A dangling link gives its target, which the save then creates. The
// result is a path that does not exist or names something that is not a
// link; false with reason when a link is refused or the chain is too long.
bool ResolveSaveTarget(const std::string& path, std::string& target, std::string& reason);

// An exclusive advisory lock (flock) on a file itself, so nothing is left
// behind. Saves replace a file by renaming a new one over it; a lock won on
// the replaced file is given up and taken on the new one. A thread that
// already holds the lock on a file may lock it again (the inner lock does
// nothing), so a save can run inside a read-modify-write that holds it.
class CFileLock {
public:
    enum TResult {
        LOCKED,       // held (or the file system keeps no locks)
        NO_FILE,      // path does not exist and create was not asked for
        BUSY,         // another holder kept it for the whole wait
        NOT_REGULAR,  // a device, pipe, folder or link
        FAILED,       // could not be opened; Error() gives errno
    };

    CFileLock() = default;
    ~CFileLock() { Unlock(); }
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Waits up to waitMs for the lock. create: a missing file is created
    // empty (mode 0666 less the umask) and locked.
    TResult Lock(const std::string& path, unsigned waitMs, bool create);
    void Unlock();
    bool IsHeld() const { return m_fd >= 0 || m_nested; }
    int Error() const { return m_error; }

private:
    int m_fd = -1;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    bool m_nested = false;
    int m_error = 0;
};
