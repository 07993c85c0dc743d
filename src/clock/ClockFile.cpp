#include "ClockFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

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
            ::close(m_fd);
            errno = saved;
        }
    }
    CFdCloser(const CFdCloser&) = delete;
    CFdCloser& operator=(const CFdCloser&) = delete;
    // Closes now; false (errno set) when the close reported an error.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a fresh temporary next to target. Created with 0666 so the umask
// applies as it would to a new file.
int CreateTemporary(const std::string& target, std::string& tempPath) {
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    unsigned long seed = static_cast<unsigned long>(::getpid()) * 2654435761UL ^
                         static_cast<unsigned long>(std::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06lx", (seed >> 24) & 0xFFFFFF);
        tempPath = dir + "." + base + "." + suffix + ".tmp";
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

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
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw CFileError(CFileError::READ_FAILED, SystemText(errno), path);
        }
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
    struct stat existing;
    if (::lstat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        throw CFileError(CFileError::WRITE_FAILED,
                         S_ISDIR(existing.st_mode) ? SystemText(EISDIR) : GetString(IDS_FILE_NOT_REGULAR), path);
    }
    // A writer holding the file for a read-modify-write finishes first.
    CSetupFileLock lock;
    lock.Lock(path);

    std::string tempPath;
    const int fd = CreateTemporary(target, tempPath);
    if (fd < 0) throw CFileError(CFileError::WRITE_FAILED, SystemText(errno), path);

    auto fail = [&](int err) {
        ::unlink(tempPath.c_str());
        throw CFileError(CFileError::WRITE_FAILED, SystemText(err), path);
    };
    {
        CFdCloser closer(fd);
        // A replaced file keeps its permissions.
        struct stat st;
        if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::fchmod(fd, st.st_mode & 07777);
        if (!WriteAll(fd, bytes.data(), bytes.size())) fail(errno);
        if (::fsync(fd) != 0) fail(errno);
        if (!closer.Close()) fail(errno);
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) fail(errno);

    // Make the rename itself durable; a failure here loses nothing.
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
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
