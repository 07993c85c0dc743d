// Measures the clock over the network against the same clock on a
// pseudo-terminal: full reads of the setup from the simulated clock (paced
// like a 9600-baud line) directly and through ser2net's RFC 2217 server on
// loopback, each against the protocol's own minimum; then a pattern streamed
// through ser2net to the port's reader thread, with the bytes lost. Prints
// figures only.
//
//   network-measure [CharDelay ms (100)] [reads (5)] [stream seconds (10)]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ClockState.h"
#include "CommPort.h"
#include "Profile.h"
#include "Ser2net.h"
#include "SimClock.h"
#include "StreamCounter.h"

namespace {

using TSteady = std::chrono::steady_clock;

constexpr long kFixedWaitsMs = 500 + 200 + 500;

long MsSince(TSteady::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(TSteady::now() - start).count());
}

struct TReads {
    TReads(const char* w, std::string p) : what(w), port(std::move(p)) {}
    const char* what;
    std::string port;
    std::vector<long> readMs;
    std::vector<long> openMs;
    int failures = 0;

    long Median(std::vector<long> v) const {
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    long Best() const { return readMs.empty() ? 0 : *std::min_element(readMs.begin(), readMs.end()); }
};

// One read with the port opened for it, as tarvelctl does; the open is
// timed on its own.
void ReadOnce(TReads& reads) {
    CCommPort port;
    CClockState state;
    const auto opening = TSteady::now();
    if (!port.Open(reads.port)) {
        std::fprintf(stderr, "network-measure: cannot open %s: %s\n", reads.port.c_str(),
                     port.GetOpenFailure().c_str());
        ++reads.failures;
        return;
    }
    reads.openMs.push_back(MsSince(opening));
    const auto start = TSteady::now();
    if (!state.Read(port, true)) ++reads.failures;
    reads.readMs.push_back(MsSince(start));
    port.Close();
}

void PrintReads(const TReads& r, long minimum) {
    const long median = r.Median(r.readMs);
    std::printf("full read, %-28s %zu reads, %d failed: best %ld ms, median %ld ms, ratio to minimum %.3f "
                "(median %.3f); open %ld ms\n",
                r.what, r.readMs.size(), r.failures, r.Best(), median,
                static_cast<double>(r.Best()) / static_cast<double>(minimum),
                static_cast<double>(median) / static_cast<double>(minimum), r.Median(r.openMs));
}

// Reads through ser2net beside reads straight from the pseudo-terminal,
// taken in turn so both see the same load.
int MeasureReads(long charDelay, long count) {
    CSimClock sim;
    TSimFaults faults;
    faults.realisticPace = true;
    sim.SetFaults(faults);
    if (!sim.Start()) {
        std::fprintf(stderr, "network-measure: no simulated clock: %s\n", sim.LastError().c_str());
        return 1;
    }
    CSer2net server;
    std::string reason;
    if (!server.Start(sim.DevicePath(), CSer2net::TAccepter::Rfc2217, reason)) {
        std::fprintf(stderr, "network-measure: ser2net cannot run: %s\n", reason.c_str());
        return 1;
    }
    TReads direct{"on a pseudo-terminal:", sim.DevicePath()};
    TReads network{"over rfc2217 via ser2net:", server.PortName()};
    for (long i = 0; i < count; ++i) {
        ReadOnce(direct);
        ReadOnce(network);
    }
    // Two eight-byte commands, "1,K20nXO" and "1,K20nXT".
    const long minimum = kFixedWaitsMs + 16 * charDelay;
    std::printf("protocol minimum (CharDelay %ld ms): %ld ms\n", charDelay, minimum);
    PrintReads(direct, minimum);
    PrintReads(network, minimum);
    const long directMedian = direct.Median(direct.readMs), networkMedian = network.Median(network.readMs);
    if (directMedian > 0 && networkMedian > 0)
        std::printf("network against pseudo-terminal: median %+.1f %%, best %+.1f %%\n",
                    100.0 * static_cast<double>(networkMedian - directMedian) / static_cast<double>(directMedian),
                    100.0 * static_cast<double>(network.Best() - direct.Best()) / static_cast<double>(direct.Best()));
    return direct.failures || network.failures ? 1 : 0;
}

// A pattern written at full speed into a pseudo-terminal that ser2net serves,
// received by the port's reader thread over RFC 2217; everything must come.
int MeasureStream(int seconds) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128];
    if (master < 0 || ::grantpt(master) < 0 || ::unlockpt(master) < 0 || ::ptsname_r(master, slave, sizeof slave)) {
        std::perror("network-measure: pseudo-terminal");
        return 1;
    }
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    // Keeps the terminal up while ser2net opens and closes it.
    const int keeper = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    int result = 0;
    {
        CSer2net server;
        std::string reason;
        if (!server.Start(slave, CSer2net::TAccepter::Rfc2217, reason)) {
            std::fprintf(stderr, "network-measure: ser2net cannot run: %s\n", reason.c_str());
            result = 1;
        } else {
            CCommPort port;
            CCounter counter;
            if (!port.Open(server.PortName())) {
                std::fprintf(stderr, "network-measure: cannot open %s: %s\n", server.PortName().c_str(),
                             port.GetOpenFailure().c_str());
                result = 1;
            } else {
                port.ReadStart(&counter);
                // What ser2net and the sockets still hold arrives late.
                if (StreamPattern(port, counter, master, seconds, 30000, "over rfc2217 via ser2net") != 0) result = 2;
            }
        }
    }
    if (keeper >= 0) ::close(keeper);
    ::close(master);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const long charDelay = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100;
    const long reads = argc > 2 ? std::max(1L, std::strtol(argv[2], nullptr, 10)) : 5;
    const int streamSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    if (charDelay < 0 || charDelay > 10000) {
        std::fprintf(stderr, "network-measure: CharDelay must be 0 to 10000 ms\n");
        return 2;
    }
    std::string dir = (std::filesystem::temp_directory_path() / "network-measure-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::perror("network-measure: mkdtemp");
        return 1;
    }
    SetProfilePath(dir + "/tarvel.INI");
    WriteProfileInt("Communication", "AutoOpen", 0);
    WriteProfileInt("Communication", "CharDelay", static_cast<int>(charDelay));

    const int readResult = MeasureReads(charDelay, reads);
    const int streamResult = MeasureStream(streamSeconds);

    SetProfilePath("");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return std::max(readResult, streamResult);
}
