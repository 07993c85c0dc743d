#include "ClockFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "OsLayer.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

std::string SystemText(int err) { return std::strerror(err); }

// Closes the descriptor when the scope ends, keeping errno of the failure.
class CFdCloser {
public:
    explicit CFdCloser(int fd) : m_fd(fd) {}
    ~CFdCloser() {
        if (m_fd >= 0) {
            const int saved = errno;
            CloseFile(m_fd);
            errno = saved;
        }
    }
    CFdCloser(const CFdCloser&) = delete;
    CFdCloser& operator=(const CFdCloser&) = delete;
    // Closes now; false (errno set) when the close reported an error.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return CloseFile(fd);
    }

private:
    int m_fd;
};

// The name of a fresh temporary next to a file of the given name.
class CTemporaryNames {
public:
    CTemporaryNames()
        : m_seed(static_cast<std::uint64_t>(ProcessId()) * 2654435761U ^ static_cast<std::uint64_t>(std::time(nullptr))) {}
    std::string operator()(const std::string& name) {
        m_seed = m_seed * 6364136223846793005ULL + 1442695040888963407ULL;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06lx", static_cast<unsigned long>((m_seed >> 24) & 0xFFFFFF));
        return "." + name + "." + suffix + ".tmp";
    }

private:
    std::uint64_t m_seed;
};

}  // namespace

TLoadResult LoadConfigFile(CClockState& state, const std::string& path) {
    std::string reason;
    const int fd = OpenRegularFile(path, reason);
    if (fd < 0) throw CFileError(CFileError::OPEN_FAILED, reason, path);
    CFdCloser closer(fd);

    // Only the first 154 bytes matter; anything after them is ignored.
    std::string bytes(CClockState::FILE_SIZE, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const long long n = ReadSome(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0) throw CFileError(CFileError::READ_FAILED, SystemText(errno), path);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);

    std::istringstream in(bytes);
    try {
        return state.Serialize(in);
    } catch (const CFileError& e) {
        throw CFileError(e.GetKind(), e.GetReason(), path);
    }
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    std::string target;
    std::string reason;
    if (!ResolveSaveTarget(path, target, reason)) throw CFileError(CFileError::WRITE_FAILED, reason, path);
    // A device or pipe is refused rather than written into: a setup or dump
    // chosen as a file must end up as one. Nothing here opens it, so a FIFO
    // cannot stall the save.
    const TFileKind kind = FileKind(target, false);
    if (kind == TFileKind::Folder || kind == TFileKind::Other) {
        throw CFileError(CFileError::WRITE_FAILED,
                         kind == TFileKind::Folder ? SystemText(EISDIR) : GetString(IDS_FILE_NOT_REGULAR), path);
    }
    // A writer holding the file for a read-modify-write finishes first.
    CSetupFileLock lock;
    lock.Lock(path);

    if (!ReplaceFileContents(target, bytes, CTemporaryNames()))
        throw CFileError(CFileError::WRITE_FAILED, SystemText(errno), path);
}

void SaveConfigFile(const CClockState& state, const std::string& path) {
    std::ostringstream out;
    try {
        state.Serialize(out);
    } catch (const CFileError& e) {
        throw CFileError(e.GetKind(), e.GetReason(), path);
    }
    WriteFileAtomically(path, out.str());
}

void DumpConfigFile(const CClockState& state, const std::string& path) {
    std::ostringstream out;
    state.Dump(out);
    WriteFileAtomically(path, out.str());
}

void CSetupFileLock::Lock(const std::string& path, unsigned waitMs) {
    std::string target;
    std::string reason;
    if (!ResolveSaveTarget(path, target, reason)) throw CFileError(CFileError::WRITE_FAILED, reason, path);
    switch (m_lock.Lock(target, waitMs, false)) {
    case CFileLock::LOCKED:
    case CFileLock::NO_FILE:  // a new file: nothing to keep from others yet
        return;
    case CFileLock::BUSY:
        throw CFileError(CFileError::WRITE_FAILED, GetString(IDS_FILE_BUSY), path);
    case CFileLock::NOT_REGULAR:
        throw CFileError(CFileError::WRITE_FAILED, GetString(IDS_FILE_NOT_REGULAR), path);
    case CFileLock::FAILED:
        // Unreadable: the load or save that follows says why.
        return;
    }
}
