// Finding a clock: which port it is on and at what rate. Each port is tried
// at 9600 baud first, then at the other rates the Comm Port page offers
// (19200 up to 115200, then 4800 down to 1200):
// a break, then the one character "v", which only asks the clock for its ROM
// date and changes nothing. A clock echoes what it takes; the echo says a
// clock is there, a ROM date line after it says the model (only the one
// whose row in the model table says so answers "v").
//
// Every port is tried on a thread of its own, so a run takes about as long
// as one port; each try is bounded in time. The waits for the echo and the
// ROM date grow with the port's round trip, and by a margin on a network
// port, whose round trip is only known once something has come back. The
// devices are used directly, never through the process-wide sleep or
// waiting pump, so a probe may run on any thread while the program goes on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CCommPort;

struct TProbeFound {
    std::string port;   // as given to the probe
    std::uint32_t rate = 0;
    std::string model;  // "K203" when the clock told, else empty
    std::string rom;    // the ROM date it answered, without the line end
    bool network = false;      // a port reached over the network
    unsigned roundTripMs = 0;  // its round trip as measured by the probe
};

struct TProbeTimes {
    // After the break the clock is given this long before "v", as before
    // any command: it may not hear a byte sent sooner.
    unsigned afterBreakMs = 500;
    // False: "v" is first sent without a break, and the break and its pause
    // follow only when no echo came (a clock on an idle line at a known
    // rate hears it at once).
    bool breakFirst = true;
    unsigned echoWaitMs = 250;   // how long the echo of "v" may take
    unsigned replyWaitMs = 400;  // how long the ROM date may take after the echo
    // Added to both on a network port, beside its round trip: the server's
    // own buffering, and a round trip that grew since it was measured.
    unsigned networkMarginMs = 1000;
};

class CClockProbe {
public:
    // One try done: the port, the rate, and how many of all tries are done.
    using TProgress = std::function<void(const std::string& port, std::uint32_t rate, int done, int total)>;

    // The rates tried, in order.
    static std::vector<std::uint32_t> Rates();
    // The ports tried when none are named: the present ones of the port list,
    // by the name that is stored for them; the simulated clock only when named.
    static std::vector<std::string> ListedPorts();

    void SetTimes(const TProbeTimes& times) { m_times = times; }
    // Called from the probing threads, one call at a time.
    void SetProgress(TProgress progress) { m_progress = std::move(progress); }
    // Set from any thread: every port stops at its next step.
    void Cancel() { m_cancel = true; }
    bool Cancelled() const { return m_cancel; }

    // Tries every port (each until a clock answers) and gives the clocks
    // found, in the order of ports. A port that cannot be opened is passed
    // over; why is kept for PortFailures.
    std::vector<TProbeFound> Run(const std::vector<std::string>& ports);
    // "PORT: reason" for each port that could not be opened, after Run.
    const std::vector<std::string>& PortFailures() const { return m_failures; }

private:
    struct TPortResult {
        bool found = false;
        TProbeFound clock;
        std::string failure;
    };
    void ProbePort(const std::string& port, TPortResult& result);
    void StepDone(const std::string& port, std::uint32_t rate);

    TProbeTimes m_times;
    TProgress m_progress;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_done{0};
    int m_total = 0;
    std::vector<std::string> m_failures;
};

// Asks the clock on an open port for its model as the probe asks at one rate:
// a break, its pause, then "v" (see TProbeTimes::breakFirst). The model's index when the clock says it (the model
// that answers "v" sends its ROM date, left in rom when given), else -1:
// another model, or no clock at all.
int AskClockModel(CCommPort& port, const TProbeTimes& times = TProbeTimes(), std::string* rom = nullptr);
