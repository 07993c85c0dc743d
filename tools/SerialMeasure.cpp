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
#include "Profile.h"
#include "StreamCounter.h"

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
        if (StreamPattern(port, counter, master, streamSeconds, 10000, "through the reader") != 0) result = 2;
    }
    if (keeper >= 0) ::close(keeper);
    ::close(master);
    std::filesystem::remove_all(dir);
    return result;
}
