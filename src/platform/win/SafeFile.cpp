// The project's headers come before <windows.h>: its macros rename
// LoadString, GetProfileString and others to their A/W forms.
#include "SafeFile.h"

#include "OsLayer.h"
#include "Resource.h"
#include "StringTable.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // libstdc++ defines it already
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

// Links in one chain, as on Linux.
constexpr int kMaxLinks = 40;

// The errno a caller reports for a failed Win32 call.
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
        return EINVAL;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, INT_MAX));
        const int n = ::_write(fd, bytes.data() + done, chunk);
        if (n < 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One mutex per file, whatever the case or form of the name: a hash of the
// full path in lower case. Another name of the same file (a link, a short
// 8.3 name) is not seen as the same.
std::wstring MutexName(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD size = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size > full.size()) {
        full.resize(size);
        size = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    }
    full.resize(size > 0 && size < full.size() ? size : 0);
    if (full.empty()) full = path;
    ::CharLowerBuffW(full.data(), static_cast<DWORD>(full.size()));
    std::uint64_t hash = 14695981039346656037ULL;
    for (wchar_t c : full) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ULL;
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\tarvel-file-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

int OpenRegularFile(const std::string& path, std::string& reason) {
    const std::wstring wide = PathFromUtf8(path).native();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = std::strerror(EISDIR);
        errno = EINVAL;
        return -1;
    }
    const int fd = ::_wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    // A console, printer, serial port or pipe under a file's name is no file.
    if (::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(fd))) != FILE_TYPE_DISK) {
        reason = GetString(IDS_FILE_NOT_REGULAR);
        ::_close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

long long ReadSome(int fd, char* buffer, std::size_t size) {
    return ::_read(fd, buffer, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

bool CloseFile(int fd) { return ::_close(fd) == 0; }

TFileKind FileKind(const std::string& path, bool followLinks) {
    const std::wstring wide = PathFromUtf8(path).native();
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!followLinks) return TFileKind::Other;
        // What the link leads to.
        HANDLE file = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &info);
        const DWORD error = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        if (!known) {
            ::SetLastError(error);
            attributes = INVALID_FILE_ATTRIBUTES;
        } else {
            attributes = info.dwFileAttributes;
        }
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ErrnoOf(::GetLastError());
        return errno == ENOENT ? TFileKind::Missing : TFileKind::Unreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return TFileKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return TFileKind::Other;
    return TFileKind::Regular;
}

bool ReplaceFileContents(const std::string& target, const std::string& bytes,
                         const std::function<std::string(const std::string& name)>& tempName) {
    namespace fs = std::filesystem;
    const fs::path to = PathFromUtf8(target);
    const fs::path folder = to.parent_path();
    const std::string name = Utf8FromPath(to.filename());
    fs::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder / PathFromUtf8(tempName(name));
        fd = ::_wopen(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    if (ok) ok = ::_commit(fd) == 0;
    int err = errno;
    if (::_close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    // rename refuses to replace a file here; this replaces it and returns
    // once the move is on the disk.
    if (ok && !::MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        err = ErrnoOf(::GetLastError());
    }
    if (!ok) {
        ::_wunlink(temp.c_str());
        errno = err;
        return false;
    }
    return true;
}

// Links are followed to their end; Windows has no rule like Linux's
// protected_symlinks, and making one takes a privilege there.
bool ResolveSaveTarget(const std::string& path, std::string& target, std::string& reason) {
    namespace fs = std::filesystem;
    fs::path current = PathFromUtf8(path);
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(current, ec);
        if (status.type() == fs::file_type::not_found || (!ec && !fs::is_symlink(status))) {
            target = Utf8FromPath(current);
            return true;
        }
        if (ec) {
            reason = ec.message();
            return false;
        }
        const fs::path next = fs::read_symlink(current, ec);
        if (ec || next.empty()) {
            reason = ec ? ec.message() : std::strerror(ENOENT);
            return false;
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    reason = std::strerror(ELOOP);
    return false;
}

CFileLock::TResult CFileLock::Lock(const std::string& path, unsigned waitMs, bool create) {
    Unlock();
    m_error = 0;
    const std::wstring wide = PathFromUtf8(path).native();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        m_error = ErrnoOf(::GetLastError());
        if (m_error != ENOENT) return FAILED;
        if (!create) return NO_FILE;
        HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            m_error = ErrnoOf(::GetLastError());
            return m_error == ENOENT ? NO_FILE : FAILED;
        }
        ::CloseHandle(file);
        m_error = 0;
    } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
        return NOT_REGULAR;
    }
    // The file itself cannot be locked: a locked range blocks reads through
    // other handles, and an open file cannot be replaced. A mutex is held by
    // one thread, again by the same one (so a nested lock goes ahead), and
    // given up when its holder ends.
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(wide).c_str());
    if (!mutex) {
        m_error = ErrnoOf(::GetLastError());
        return FAILED;
    }
    switch (::WaitForSingleObject(mutex, waitMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        m_handle = reinterpret_cast<std::intptr_t>(mutex);
        return LOCKED;
    case WAIT_TIMEOUT:
        ::CloseHandle(mutex);
        return BUSY;
    default:
        m_error = ErrnoOf(::GetLastError());
        ::CloseHandle(mutex);
        return FAILED;
    }
}

void CFileLock::Unlock() {
    if (m_handle != kNone) {
        HANDLE mutex = reinterpret_cast<HANDLE>(m_handle);
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
        m_handle = kNone;
    }
    m_nested = false;
}
