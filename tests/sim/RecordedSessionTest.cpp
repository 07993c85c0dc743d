// Sessions with the simulated clock, recorded as line traces (LineTrace.h)
// and replayed through the fake device, as gpsd keeps its device logs: the
// program must send the same bytes, break the line as often, and come to the
// same result and setup. Each file in tests/data/sessions is the trace after
// '#' lines saying what came of it. After a deliberate change of what the
// program sends, record them again against the simulated clock with
//   TARVEL_RECORD_SESSIONS=1 test_sim --gtest_filter='RecordedSession.*'
#include <gtest/gtest.h>

#ifdef TARVEL_SOURCE_DIR

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "ClockState.h"
#include "EchoPatience.h"
#include "FakeSerialDevice.h"
#include "LineTrace.h"
#include "Profile.h"
#include "RecordingClockUi.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

struct TSession {
    const char* name;  // tests/data/sessions/NAME.trace
    bool write;        // writes Changed(); otherwise reads the stored setup
    void (*faults)(TSimFaults&);
};

const TSession SESSIONS[] = {
    {"read", false, [](TSimFaults&) {}},
    {"read-noise", false, [](TSimFaults& f) { f.lineNoise = true; f.noiseSeed = 7; }},
    {"read-bad-digit", false, [](TSimFaults& f) { f.badDigit = true; }},
    {"write", true, [](TSimFaults&) {}},
    {"write-differs", true, [](TSimFaults& f) { f.differAfterWrite = true; }},
};

TClockConfig Changed() {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.backLight = 5;
    SetBE32(c.cableDelay, 1234567);
    c.option23b = 0x5A;
    return c;
}

std::string Describe(const TClockResult& r) {
    return r ? "done" : std::string(r.Kind()) + " " + r.command + " #" + std::to_string(r.index);
}

// The "# result" and "# setup" lines of what the program came to.
std::string RunSession(const TSession& session, CCommPort& port) {
    CRecordingClockUi ui;  // every countdown answers OK at once
    CClockState state;
    state.SetUi(&ui);
    std::string result;
    if (session.write) {
        *state.GetConfig() = Changed();
        const bool written = state.Write(port) == TWriteResult::Written;
        result = written ? "written" : "failed " + Describe(state.GetWriteFailure());
    } else {
        result = Describe(state.Read(port, true));
    }
    std::string setup;
    char pair[3];
    for (std::size_t i = 0; i < CLOCK_CONFIG_SIZE; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", ConfigBytes(*state.GetConfig())[i]);
        setup += pair;
    }
    return "# result " + result + "\n# setup " + setup + "\n";
}

// Plays the clock's side of a recorded session: each received block goes
// out once the program has sent as much as was sent before it.
class CReplayedClock : public CFakeSerialDevice {
public:
    std::vector<std::pair<char, std::string>> blocks;  // '>' sent, '<' received
    std::string sent;

    ssize_t Write(const unsigned char* buf, std::size_t size) override {
        const ssize_t n = CFakeSerialDevice::Write(buf, size);
        sent += PeerReadAll();
        for (; m_next < blocks.size(); ++m_next) {
            const auto& [direction, bytes] = blocks[m_next];
            if (direction == '<')
                PeerWrite(bytes);
            else if (sent.size() >= m_due + bytes.size())
                m_due += bytes.size();
            else
                break;
        }
        return n;
    }

private:
    std::size_t m_next = 0;
    std::size_t m_due = 0;  // bytes sent in the blocks before m_next
};

// Runs the session against the simulated clock with the port's trace on.
void Record(const TSession& session, const std::string& path) {
    CSimClock sim;
    sim.SetEeprom(Changed());
    TSimFaults faults;
    session.faults(faults);
    sim.SetFaults(faults);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    std::string reason, outcome;
    std::shared_ptr<CLineTrace> trace = CLineTrace::Open(path + ".new", reason);
    ASSERT_TRUE(trace) << reason;
    {
        CCommPort port(nullptr, [] { return std::make_shared<CPatientDevice>(std::make_unique<CTermiosDevice>()); });
        port.SetTrace(trace);
        ASSERT_TRUE(port.Open(sim.DevicePath()));
        outcome = RunSession(session, port);
    }
    trace.reset();
    WriteWholeFile(path, "# " + std::string(session.name) + ", with the simulated clock\n" + outcome +
                             ReadWholeFile(path + ".new"));
    std::remove((path + ".new").c_str());
}

}  // namespace

TEST(RecordedSession, TheProgramSendsTheSameAndComesToTheSameResult) {
    CTestProfile profile;
    WriteProfileInt("Communication", "AutoOpen", 0);
    WriteProfileInt("Communication", "CharDelay", 10);
    for (const TSession& session : SESSIONS) {
        SCOPED_TRACE(session.name);
        const std::string path = std::string(TARVEL_SOURCE_DIR) + "/tests/data/sessions/" + session.name + ".trace";
        if (std::getenv("TARVEL_RECORD_SESSIONS")) Record(session, path);
        auto clock = std::make_shared<CReplayedClock>();
        std::string outcome, sent;
        int breaks = 0;
        std::istringstream in(ReadWholeFile(path));
        for (std::string line; std::getline(in, line);) {
            const std::size_t space = line.find(' ');
            if (line.rfind("# result ", 0) == 0 || line.rfind("# setup ", 0) == 0) outcome += line + "\n";
            if (line[0] == '#' || space == std::string::npos || line.size() < space + 3) continue;
            std::string bytes;
            if (line[space + 1] == '-') {
                breaks += line.compare(space + 3, std::string::npos, "break") == 0;
            } else {
                ASSERT_TRUE(CLineTrace::DecodeBytes(line.substr(space + 3), bytes)) << line;
                clock->blocks.emplace_back(line[space + 1], bytes);
                if (line[space + 1] == '>') sent += bytes;
            }
        }
        ASSERT_FALSE(sent.empty()) << path;

        CCommPort port(nullptr, [clock] { return clock; });
        ASSERT_TRUE(port.Open("replayed clock"));
        EXPECT_EQ(RunSession(session, port), outcome);
        EXPECT_EQ(clock->sent, sent);
        const std::vector<bool> calls = clock->BreakCalls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), true), breaks);
    }
}

#endif  // TARVEL_SOURCE_DIR
