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

// The file a save must replace: the target of a symbolic link, so saving
// through a link updates the setup it points at instead of replacing the link.
std::string ResolveTarget(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
    return path;
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw CFileError(CFileError::OPEN_FAILED, SystemText(errno), path);
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
    // A device, pipe or terminal (/dev/null, /dev/stdout) is written into:
    // renaming over it would put a plain file in its place.
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) throw CFileError(CFileError::WRITE_FAILED, SystemText(errno), path);
        CFdCloser closer(fd);
        if (!WriteAll(fd, bytes.data(), bytes.size()) || !closer.Close())
            throw CFileError(CFileError::WRITE_FAILED, SystemText(errno), path);
        return;
    }

    const std::string target = ResolveTarget(path);
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
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
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
