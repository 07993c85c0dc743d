#include "LineTrace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Resource.h"
#include "SafeFile.h"
#include "StringTable.h"

namespace {

// Milliseconds on the monotonic clock, with the microseconds as decimals.
std::string Stamp() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%03ld", static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000,
                  (ts.tv_nsec / 1000) % 1000);
    return text;
}

bool IsPlain(unsigned char c) { return c >= 0x20 && c <= 0x7E && c != '<'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

CLineTrace::~CLineTrace() {
    if (m_fd >= 0) ::close(m_fd);
}

std::shared_ptr<CLineTrace> CLineTrace::Open(const std::string& path, std::string& reason, std::size_t limit) {
    std::string target;
    if (!ResolveSaveTarget(path, target, reason)) return nullptr;
    // Non-blocking: a FIFO without a reader fails at once instead of waiting
    // for one; with a reader it is refused below.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : GetString(IDS_FILE_NOT_REGULAR);
        ::close(fd);
        return nullptr;
    }
    if (::ftruncate(fd, 0) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return std::shared_ptr<CLineTrace>(new CLineTrace(fd, limit));
}

void CLineTrace::Line(char direction, const unsigned char* bytes, std::size_t count) {
    if (!bytes || count == 0) return;
    std::string text;
    text.reserve(count * 2 + 16);
    text += ' ';
    text += direction;
    text += ' ';
    for (std::size_t i = 0; i < count; ++i) {
        if (IsPlain(bytes[i])) {
            text += static_cast<char>(bytes[i]);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", bytes[i]);
            text += hex;
        }
    }
    text += '\n';
    std::lock_guard lock(m_mutex);
    Put(Stamp() + text);
}

void CLineTrace::Break() {
    std::lock_guard lock(m_mutex);
    Put(Stamp() + " - break\n");
}

void CLineTrace::RoundTrip(const std::string& port, unsigned ms) {
    // The name as it is, but never a line break or a byte the trace writes as <HH>.
    std::string name;
    for (unsigned char c : port) name += IsPlain(c) ? static_cast<char>(c) : '?';
    std::lock_guard lock(m_mutex);
    Put(Stamp() + " - round trip " + std::to_string(ms) + " ms on " + name + "\n");
}

void CLineTrace::SetFailureSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(m_mutex);
    m_failureSink = std::move(sink);
}

void CLineTrace::Put(const std::string& line) {
    if (m_ended) return;
    std::string text = line;
    if (m_written + text.size() > m_limit) {
        text = Stamp() + " - " + GetString(IDS_TRACE_CUT) + "\n";
        m_ended = true;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A full disk ends the trace; the port goes on as before.
            m_ended = true;
            if (m_failureSink) m_failureSink(std::strerror(n < 0 ? errno : ENOSPC));
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    m_written += done;
}

bool CLineTrace::DecodeBytes(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '<') {
            if (i + 3 >= text.size() || text[i + 3] != '>') return false;
            const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return false;
            bytes += static_cast<char>(hi * 16 + lo);
            i += 3;
        } else if (IsPlain(c)) {
            bytes += static_cast<char>(c);
        } else {
            return false;
        }
    }
    return true;
}
