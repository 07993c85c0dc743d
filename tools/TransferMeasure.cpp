// Measures a full read of the clock's setup against the simulated clock on a
// pseudo-terminal (paced like a 9600-baud line) and compares its wall time
// with the least the protocol allows: its fixed waits (500 + 200 + 500 ms)
// plus the per-byte pauses of its two commands. Prints figures only.
//
//   transfer-measure [CharDelay ms (100)] [reads (3)]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ClockState.h"
#include "CommPort.h"
#include "Profile.h"
#include "SimClock.h"

namespace {

constexpr long kFixedWaitsMs = 500 + 200 + 500;

}  // namespace

int main(int argc, char** argv) {
    const long charDelay = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100;
    const long reads = argc > 2 ? std::max(1L, std::strtol(argv[2], nullptr, 10)) : 3;
    if (charDelay < 0 || charDelay > 10000) {
        std::fprintf(stderr, "transfer-measure: CharDelay must be 0 to 10000 ms\n");
        return 2;
    }

    std::string dir = (std::filesystem::temp_directory_path() / "transfer-measure-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::perror("transfer-measure: mkdtemp");
        return 1;
    }
    SetProfilePath(dir + "/tarvel.INI");
    WriteProfileInt("Communication", "AutoOpen", 0);
    WriteProfileInt("Communication", "CharDelay", static_cast<int>(charDelay));

    int rc = 0;
    {
        CSimClock sim;
        TSimFaults faults;
        faults.realisticPace = true;
        sim.SetFaults(faults);
        CCommPort port;
        CClockState state;
        if (!sim.Start() || !port.Open(sim.DevicePath())) {
            std::fprintf(stderr, "transfer-measure: cannot reach the simulated clock %s\n", sim.LastError().c_str());
            rc = 1;
        } else {
            std::string model;
            state.GetModelName(model);
            // Two eight-byte commands, "1,K20nXO" and "1,K20nXT".
            const long minimum = kFixedWaitsMs + 16 * charDelay;
            std::vector<long> times;
            int failures = 0;
            for (long i = 0; i < reads; ++i) {
                const auto start = std::chrono::steady_clock::now();
                if (!state.Read(port, true)) ++failures;
                times.push_back(static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                      std::chrono::steady_clock::now() - start)
                                                      .count()));
            }
            std::sort(times.begin(), times.end());
            const long median = times[times.size() / 2];
            std::printf("full read (%s, CharDelay %ld ms, %ld reads, %d failed): best %ld ms, median %ld ms; "
                        "protocol minimum %ld ms; ratio %.2f (median %.2f)\n",
                        model.c_str(), charDelay, reads, failures, times.front(), median, minimum,
                        static_cast<double>(times.front()) / static_cast<double>(minimum),
                        static_cast<double>(median) / static_cast<double>(minimum));
            if (failures) rc = 1;
        }
    }
    SetProfilePath("");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
}
