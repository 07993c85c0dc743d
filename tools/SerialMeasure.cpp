// Measures the port's reader thread on a pseudo-terminal: its processor time
// while nothing arrives, and how much it moves at full speed with nothing lost.
//
//   serial-measure [idle seconds (10)] [stream seconds (10)]
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "CommPort.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "Profile.h"

namespace {

long long ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

unsigned char PatternByte(unsigned long long i) { return static_cast<unsigned char>((i * 31 + (i >> 8)) & 0xFF); }

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

bool SendAll(int fd, const unsigned char* data, std::size_t size) {
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

}  // namespace

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int streamSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    // A private profile, so the port opens nothing by itself.
    char dirTemplate[] = "/tmp/serial-measure-XXXXXX";
    if (!::mkdtemp(dirTemplate)) return 1;
    const std::string dir = dirTemplate;
    SetProfilePath(dir + "/measure.INI");
    WriteProfileInt("Communication", "AutoOpen", 0);
    SetProfileNoticeSink([](const std::string& text) { std::fprintf(stderr, "notice: %s\n", text.c_str()); });

    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128];
    if (master < 0 || ::grantpt(master) < 0 || ::unlockpt(master) < 0 || ::ptsname_r(master, slave, sizeof slave)) {
        std::perror("pseudo-terminal");
        return 1;
    }
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    int keeper = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);

    int result = 0;
    {
        CCommPort port;
        if (!port.Open(slave)) {
            std::fprintf(stderr, "cannot open %s\n", slave);
            return 1;
        }
        CCounter counter;
        port.ReadStart(&counter);

        // Idle: the reader's processor time between two single bytes.
        const unsigned char one = 'a';
        counter.Reset(false);
        SendAll(master, &one, 1);
        counter.WaitFor(1, 5000);
        const long long cpuBefore = counter.CpuNs();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        SendAll(master, &one, 1);
        counter.WaitFor(2, 5000);
        const long long idleNs = counter.CpuNs() - cpuBefore;
        std::printf("reader CPU time over %d s idle: %.3f ms\n", idleSeconds, idleNs / 1e6);

        // Full speed: a pattern for streamSeconds, then everything must have come.
        counter.Reset(true);
        std::atomic<bool> stop{false};
        unsigned long long sent = 0;
        std::thread writer([&] {
            unsigned char block[4096];
            while (!stop) {
                for (std::size_t i = 0; i < sizeof block; ++i) block[i] = PatternByte(sent + i);
                if (!SendAll(master, block, sizeof block)) break;
                sent += sizeof block;
            }
        });
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(streamSeconds));
        stop = true;
        writer.join();
        counter.WaitFor(sent, 10000);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        port.ReadStop();
        const unsigned long long received = counter.Received();
        const unsigned long long lost = (sent > received ? sent - received : 0) + counter.Wrong();
        std::printf("streamed through the reader: %llu bytes in %.1f s (%.0f KiB/s), lost %llu\n", received,
                    seconds, received / 1024.0 / seconds, lost);
        if (lost != 0) result = 2;
    }
    if (keeper >= 0) ::close(keeper);
    ::close(master);
    std::filesystem::remove_all(dir);
    return result;
}
