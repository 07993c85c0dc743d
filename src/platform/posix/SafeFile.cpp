#include "SafeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Resource.h"
#include "StringTable.h"

namespace {

// Links in one chain; the kernel gives up after as many.
constexpr int kMaxLinks = 40;

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The files this thread holds a lock on, so a save inside a held
// read-modify-write does not wait for itself.
struct TFileId {
    std::uint64_t dev;
    std::uint64_t ino;
    bool operator==(const TFileId&) const = default;
};
thread_local std::vector<TFileId> t_held;

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void PauseMs(long long ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

int OpenRegularFile(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : GetString(IDS_FILE_NOT_REGULAR);
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Reads of a regular file never block; clear the flag all the same.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool ResolveSaveTarget(const std::string& path, std::string& target, std::string& reason) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0) {
            if (errno == ENOENT) {
                target = current;
                return true;
            }
            reason = std::strerror(errno);
            return false;
        }
        if (!S_ISLNK(link.st_mode)) {
            target = current;
            return true;
        }
        const std::string dir = DirectoryOf(current);
        struct stat folder {};
        if (::stat(dir.c_str(), &folder) != 0) {
            reason = std::strerror(errno);
            return false;
        }
        const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
        if (shared && link.st_uid != folder.st_uid && link.st_uid != ::geteuid()) {
            reason = GetString(IDS_FILE_LINK_REFUSED);
            return false;
        }
        std::vector<char> buf(static_cast<std::size_t>(std::max<off_t>(link.st_size, 255)) + 2);
        const ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size() - 1);
        if (n < 0 || static_cast<std::size_t>(n) >= buf.size() - 1) {
            reason = std::strerror(n < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        const std::string next(buf.data(), static_cast<std::size_t>(n));
        if (next.empty()) {
            reason = std::strerror(ENOENT);
            return false;
        }
        current = next.front() == '/' ? next : (dir == "/" ? "/" : dir + "/") + next;
    }
    reason = std::strerror(ELOOP);
    return false;
}

long long ReadSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool CloseFile(int fd) { return ::close(fd) == 0; }

TFileKind FileKind(const std::string& path, bool followLinks) {
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return errno == ENOENT ? TFileKind::Missing : TFileKind::Unreadable;
    if (S_ISREG(st.st_mode)) return TFileKind::Regular;
    if (S_ISDIR(st.st_mode)) return TFileKind::Folder;
    return TFileKind::Other;
}

bool ReplaceFileContents(const std::string& target, const std::string& bytes,
                         const std::function<std::string(const std::string& name)>& tempName) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // A replaced file keeps its permissions; the new one is never more open
    // than the old one meanwhile. A new file gets 0666 less the umask.
    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = replacing ? (old.st_mode & 07777) : 0666;

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + tempName(name);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    if (ok && replacing) ::fchmod(fd, mode);  // a file system without modes keeps its own
    if (ok) ok = ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = err;
        return false;
    }
    // Make the rename itself durable; a failure here loses nothing.
    const int dirFd = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

CFileLock::TResult CFileLock::Lock(const std::string& path, unsigned waitMs, bool create) {
    Unlock();
    m_error = 0;
    // Whole milliseconds would give up to 1 ms early.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        int flags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
        if (create) flags |= O_CREAT;
        const int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) {
            m_error = errno;
            if (errno == ENOENT) return NO_FILE;
            if (errno == ELOOP) return NOT_REGULAR;
            return FAILED;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return NOT_REGULAR;
        }
        const TFileId id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        if (std::find(t_held.begin(), t_held.end(), id) != t_held.end()) {
            ::close(fd);
            m_nested = true;
            return LOCKED;
        }
        bool locked = false;
        for (;;) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                locked = true;
                break;
            }
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) break;
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                ::close(fd);
                return BUSY;
            }
            const long long left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
            PauseMs(std::min(left, 10LL));
        }
        if (!locked) {
            // A file system without locks: go on unlocked rather than refuse
            // every save on it.
            const int err = errno;
            ::close(fd);
            if (err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS) {
                m_nested = true;
                return LOCKED;
            }
            m_error = err;
            return FAILED;
        }
        // The holder before us may have renamed a new file over this one.
        struct stat now {};
        if (::lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
            m_handle = fd;
            m_device = id.dev;
            m_file = id.ino;
            t_held.push_back(id);
            return LOCKED;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() >= deadline) return BUSY;
    }
}

void CFileLock::Unlock() {
    if (m_handle != kNone) {
        const TFileId id{m_device, m_file};
        const auto it = std::find(t_held.begin(), t_held.end(), id);
        if (it != t_held.end()) t_held.erase(it);
        ::close(static_cast<int>(m_handle));  // closing releases the lock
        m_handle = kNone;
    }
    m_nested = false;
}
