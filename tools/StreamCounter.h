// What the stream measurements share: a byte pattern with its checker, the
// reader thread's deliveries counted (with its processor time), and a writer
// that waits for room on a non-blocking descriptor.
#pragma once

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "CommPort.h"
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

// Writes the pattern into fd for seconds while the port's reader delivers to
// counter, waits up to drainMs for what is still on its way, and prints the
// figures as "streamed WHAT: ..."; gives the bytes lost or wrong.
inline unsigned long long StreamPattern(CCommPort& port, CCounter& counter, int fd, int seconds, int drainMs,
                                        const char* what) {
    counter.Reset(true);
    std::atomic<bool> stop{false};
    unsigned long long sent = 0;
    std::thread writer([&] {
        unsigned char block[4096];
        while (!stop) {
            for (std::size_t i = 0; i < sizeof block; ++i) block[i] = PatternByte(sent + i);
            if (!SendAll(fd, block, sizeof block)) break;
            sent += sizeof block;
        }
    });
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    writer.join();
    counter.WaitFor(sent, drainMs);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    port.ReadStop();
    const unsigned long long received = counter.Received();
    const unsigned long long lost = (sent > received ? sent - received : 0) + counter.Wrong();
    std::printf("streamed %s: %llu bytes in %.1f s (%.0f KiB/s), lost %llu\n", what, received, elapsed,
                received / 1024.0 / elapsed, lost);
    return lost;
}
