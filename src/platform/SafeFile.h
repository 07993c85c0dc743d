// Opening, replacing and locking the user's files (setups, dumps, the profile)
// without hanging on a pipe, writing into a device, following a link the
// kernel itself would refuse, or leaving lock files behind. Paths are UTF-8;
// descriptors are binary and not inherited. POSIX in posix/SafeFile.cpp,
// Win32 in win/SafeFile.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Opens path for reading without blocking (a FIFO never stalls the caller)
// and accepts only a regular file. -1 with reason set otherwise.
int OpenRegularFile(const std::string& path, std::string& reason);

// Reads up to size bytes from a descriptor, again when interrupted: the
// count, 0 at the end, -1 with errno set.
long long ReadSome(int fd, char* buffer, std::size_t size);
// Closes a descriptor; false with errno set when the close reported an error.
bool CloseFile(int fd);

enum class TFileKind {
    Missing,     // nothing of that name (a dangling link when followed)
    Regular,
    Folder,
    Other,       // a device, pipe, socket, or a link not followed
    Unreadable,  // the system refused to say; errno tells why
};
TFileKind FileKind(const std::string& path, bool followLinks);

// Replaces target with bytes in one step: a new file beside it, named
// tempName(target's file name) and named again when taken, is written in
// full, given the old file's mode (POSIX), synced, and put in target's place
// (rename; on Windows MoveFileEx, as rename refuses to replace), then the
// folder is synced. False with errno set; the new file is removed then and
// target left as it was. target must name no link (see ResolveSaveTarget).
bool ReplaceFileContents(const std::string& target, const std::string& bytes,
                         const std::function<std::string(const std::string& name)>& tempName);

// The file a save to path must replace. A symbolic link is followed, link by
// link, only where the kernel would follow it (fs.protected_symlinks): in a
// sticky, world-writable folder only a link owned by the folder's owner or by
// us. A dangling link gives its target, which the save then creates. The
// result is a path that does not exist or names something that is not a
// link; false with reason when a link is refused or the chain is too long.
// Windows has no such rule: there links are followed to their end.
bool ResolveSaveTarget(const std::string& path, std::string& target, std::string& reason);

// An exclusive advisory lock (flock) on a file itself, so nothing is left
// behind. Saves replace a file by renaming a new one over it; a lock won on
// the replaced file is given up and taken on the new one. On Windows, where
// an open file cannot be replaced, a named mutex of the file's full path.
// A thread that already holds the lock on a file may lock it again (the
// inner lock does nothing), so a save can run inside a read-modify-write
// that holds it.
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
    bool IsHeld() const { return m_handle != kNone || m_nested; }
    int Error() const { return m_error; }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t m_handle = kNone;  // the locked descriptor, or the mutex
    std::uint64_t m_device = 0;      // which file is locked
    std::uint64_t m_file = 0;
    bool m_nested = false;
    int m_error = 0;
};
