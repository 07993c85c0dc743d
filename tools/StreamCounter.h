// What the stream measurements share: a byte pattern with its checker, the
// reader thread's deliveries counted (with its processor time), and a writer
// that waits for room on a non-blocking descriptor.
#pragma once

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "MessageTarget.h"
#include "Messages.h"

inline long long ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

inline unsigned char PatternByte(unsigned long long i) { return static_cast<unsigned char>((i * 31 + (i >> 8)) & 0xFF); }

// Receives the reader's blocks: counts them, checks the pattern, and notes
// the reader thread's processor time at each delivery.
class CCounter : public CMessageTarget {
public:
    std::intptr_t Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override {
        if (msg != WM_COMMDATA) return 0;
        const auto* bytes = reinterpret_cast<const unsigned char*>(lParam);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::uintptr_t i = 0; i < wParam; ++i, ++m_received)
            if (m_checking && bytes[i] != PatternByte(m_received)) ++m_wrong;
        m_cpuNs = ThreadCpuNs();
        m_cv.notify_all();
        return 0;
    }
    void Post(unsigned, std::uintptr_t, std::intptr_t) override {}

    void Reset(bool checking) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received = 0;
        m_wrong = 0;
        m_checking = checking;
    }
    bool WaitFor(unsigned long long bytes, int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_received >= bytes; });
    }
    unsigned long long Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    unsigned long long Wrong() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_wrong;
    }
    long long CpuNs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_cpuNs;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    unsigned long long m_received = 0;
    unsigned long long m_wrong = 0;
    bool m_checking = false;
    long long m_cpuNs = 0;
};

inline bool SendAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    return true;
}
