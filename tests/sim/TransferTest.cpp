// The command writer and the configuration transfer, run with CCommPort on a
// real pseudo-terminal against the simulated clock. A thin device layer under
// the port records what was written and can hide or add received bytes, for
// the faults the simulated clock does not offer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ClockState.h"
#include "CommPort.h"
#include "HexCodec.h"
#include "EchoPatience.h"
#include "Messages.h"
#include "Profile.h"
#include "RecordingClockUi.h"
#include "SimClock.h"
#include "SimSetups.h"
#include "TermiosDevice.h"
#include "TestSupport.h"

namespace {

class CTapDevice : public CSerialDevice {
public:
    bool Open(const std::string& path) override { return m_inner.Open(path); }
    void Close() override { m_inner.Close(); }
    bool IsOpen() const override { return m_inner.IsOpen(); }
    bool GetLineState(TLineSettings& line) override { return m_inner.GetLineState(line); }
    bool SetLineState(const TLineSettings& line) override { return m_inner.SetLineState(line); }
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override { return m_inner.Wait(wanted, timeoutMs); }
    void InterruptWait() override { m_inner.InterruptWait(); }
    bool Drain(unsigned stallMs) override { return m_inner.Drain(stallMs); }
    bool Purge(bool input, bool output) override { return m_inner.Purge(input, output); }
    bool SetBreak(bool on) override { return m_inner.SetBreak(on); }
    bool QueuedInput(unsigned& count) override { return m_inner.QueuedInput(count); }
    bool GetErrorCounts(TErrorCounts& counts) override { return m_inner.GetErrorCounts(counts); }

    // Returns once the clock has dealt with the bytes, as a clock does in its
    // own time, so a loaded machine cannot make an echo late.
    ssize_t Write(const unsigned char* buf, std::size_t size) override {
        const std::uint64_t before = sim ? sim->BytesAnswered() : 0;
        const ssize_t n = m_inner.Write(buf, size);
        if (n > 0 && sim) sim->WaitAnswered(before + static_cast<std::uint64_t>(n), 10000);
        std::lock_guard lock(m_mutex);
        if (n > 0) m_written.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        return n;
    }

    ssize_t Read(unsigned char* buf, std::size_t size) override {
        std::lock_guard lock(m_mutex);
        ssize_t n = ReadWithEchoPatience(m_inner, buf, size, m_patienceMs);
        // A hidden byte never arrived: what follows it takes its place.
        while (n > 0 && m_hidden) {
            std::size_t kept = 0;
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] != m_hiddenByte) buf[kept++] = buf[i];
            if (kept > 0) {
                n = static_cast<ssize_t>(kept);
                break;
            }
            n = m_inner.Read(buf, size);
        }
        // Added bytes follow what the line had, and only in a block read.
        if (n <= 0 && size > 1 && !m_extra.empty()) {
            const std::size_t take = std::min(size, m_extra.size());
            std::memcpy(buf, m_extra.data(), take);
            m_extra.erase(0, take);
            return static_cast<ssize_t>(take);
        }
        return n;
    }

    CSimClock* sim = nullptr;

    std::string Written() {
        std::lock_guard lock(m_mutex);
        return m_written;
    }
    void HideReceived(unsigned char byte) {
        std::lock_guard lock(m_mutex);
        m_hidden = true;
        m_hiddenByte = byte;
    }
    void AddAfterReply(const std::string& bytes) {
        std::lock_guard lock(m_mutex);
        m_extra = bytes;
    }
    // How long an echo may be late (see EchoPatience.h); 0 where echoes are
    // meant to go missing.
    void SetPatience(int ms) {
        std::lock_guard lock(m_mutex);
        m_patienceMs = ms;
    }

private:
    CTermiosDevice m_inner;
    std::mutex m_mutex;
    std::string m_written;
    bool m_hidden = false;
    unsigned char m_hiddenByte = 0;
    std::string m_extra;
    int m_patienceMs = kEchoPatienceMs;
};

// Answers each run with the next scripted result (IDOK when the script ends)
// and notes every call.
struct TCountdownScript {
    std::vector<int> answers;
    std::vector<std::string> calls;
    int runs = 0;
    std::function<void(int run)> onRun;  // what happens while run (from 0) counts down
};

class CScriptedCountdown : public ICountdown {
public:
    explicit CScriptedCountdown(TCountdownScript& script) : m_script(script) {}
    int DoModal() override {
        m_script.calls.push_back("run");
        const std::size_t at = static_cast<std::size_t>(m_script.runs++);
        if (m_script.onRun) m_script.onRun(static_cast<int>(at));
        return at < m_script.answers.size() ? m_script.answers[at] : IDOK;
    }
    void SetRange(int lower, int upper) override {
        m_script.calls.push_back("range " + std::to_string(lower) + ".." + std::to_string(upper));
    }

private:
    TCountdownScript& m_script;
};

// Polls (sleeping) until done or the time is up; for what the simulated
// clock does on its own thread after the program has moved on.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        WriteProfileInt("Communication", "AutoOpen", 0);
        WriteProfileInt("Communication", "CharDelay", 10);
        m_state.SetUi(&m_ui);
        ASSERT_TRUE(m_sim.Start()) << m_sim.LastError();
        m_device->sim = &m_sim;
        m_port = std::make_unique<CCommPort>(nullptr, [this] { return m_device; });
        ASSERT_TRUE(m_port->Open(m_sim.DevicePath()));
    }
    void TearDown() override { m_port.reset(); }

    std::vector<std::string> Log() { return m_sim.GetCommandLog(); }
    void SetFaults(const std::function<void(TSimFaults&)>& change) {
        TSimFaults f;
        change(f);
        m_device->SetPatience(f.noEcho || f.dropEchoEvery ? 0 : kEchoPatienceMs);
        m_sim.SetFaults(f);
    }

    CTestProfile m_profile;
    TCountdownScript m_countdown;
    CRecordingClockUi m_ui{[this](int lower, int upper, int step) -> std::unique_ptr<ICountdown> {
        m_countdown.calls.push_back("make " + std::to_string(lower) + ".." + std::to_string(upper) + "/" +
                                    std::to_string(step));
        return std::make_unique<CScriptedCountdown>(m_countdown);
    }};
    CSimClock m_sim;
    std::shared_ptr<CTapDevice> m_device = std::make_shared<CTapDevice>();
    std::unique_ptr<CCommPort> m_port;
    CClockState m_state;
};

TEST_F(Transfer, ReadLoadsTheStoredSetupIntoActiveMemoryAndTakesIt) {
    const TClockConfig stored = ChangedSetup();
    m_sim.SetEeprom(stored);
    ASSERT_FALSE(Same(m_sim.GetActive(), stored));

    ASSERT_TRUE(m_state.Read(*m_port, true));
    EXPECT_TRUE(m_state.IsValid());
    EXPECT_TRUE(Same(*m_state.GetConfig(), stored));
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K202XO", "1,K202XT"}));
    EXPECT_TRUE(m_ui.messages.empty());
}

TEST_F(Transfer, WriteSendsVerifiesStoresAndResets) {
    const TClockConfig wanted = ChangedSetup();
    *m_state.GetConfig() = wanted;

    ASSERT_EQ(m_state.Write(*m_port), TWriteResult::Written);
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K202XR", "1,K202XT", "1,K202XS", "1,K202XX"}));
    EXPECT_TRUE(Same(m_sim.GetActive(), wanted));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), wanted));
    // One countdown, run three times, its range set again before the third.
    EXPECT_EQ(m_countdown.calls, (std::vector<std::string>{"make 0..10/1", "run", "run", "range 0..10", "run"}));
    // Sending never changes the record nor makes it count as present.
    EXPECT_TRUE(Same(*m_state.GetConfig(), wanted));
    EXPECT_FALSE(m_state.IsValid());
    // The records went out in one unechoed block right after the command.
    const std::string written = m_device->Written();
    const std::size_t records = written.find(":10000000");
    ASSERT_NE(records, std::string::npos);
    EXPECT_EQ(written.substr(records - 8, 8), "1,K202XR");
    EXPECT_EQ(written.compare(records + RAW_TEXT_SIZE, 8, "1,K202XT"), 0);
}

TEST_F(Transfer, CancellingACountdownEndsTheWriteAndSaysWhatWasLeftUndone) {
    const TClockConfig factory = CSimClock::MakeFactorySetup();
    const TClockConfig wanted = ChangedSetup();
    *m_state.GetConfig() = wanted;

    // First countdown: only the records were sent.
    m_countdown.answers = {IDCANCEL};
    EXPECT_EQ(m_state.Write(*m_port), TWriteResult::CancelledUnverified);
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K202XR"}));
    EXPECT_TRUE(WaitFor([&] { return Same(m_sim.GetActive(), wanted); }));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), factory));

    // Second: verified, but not stored.
    m_sim.ClearCommandLog();
    m_countdown = TCountdownScript{{IDOK, IDCANCEL}, {}, 0, {}};
    EXPECT_EQ(m_state.Write(*m_port), TWriteResult::CancelledUnstored);
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K202XR", "1,K202XT"}));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), factory));

    // Third: stored, but no reset.
    m_sim.ClearCommandLog();
    m_countdown = TCountdownScript{{IDOK, IDOK, IDCANCEL}, {}, 0, {}};
    EXPECT_EQ(m_state.Write(*m_port), TWriteResult::CancelledNoReset);
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K202XR", "1,K202XT", "1,K202XS"}));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), wanted));
    EXPECT_TRUE(m_ui.messages.empty());
}

TEST_F(Transfer, ASetupThatDiffersAfterWritingIsNeitherStoredNorReset) {
    SetFaults([](TSimFaults& f) { f.differAfterWrite = true; });
    *m_state.GetConfig() = ChangedSetup();

    EXPECT_EQ(m_state.Write(*m_port), TWriteResult::Failed);
    EXPECT_EQ(m_ui.messages,
              (std::vector<std::string>{"Error! Clock returned a setup that didn't match requested setup."}));
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K202XR", "1,K202XT"}));
    EXPECT_EQ(m_countdown.runs, 1);
    EXPECT_TRUE(Same(m_sim.GetEeprom(), CSimClock::MakeFactorySetup()));
}

TEST_F(Transfer, FailedReadsSayWhyAndLeaveTheRecordAndItsPresenceAlone) {
    ASSERT_TRUE(m_state.Read(*m_port, true));
    const TClockConfig before = *m_state.GetConfig();
    m_sim.SetEeprom(ChangedSetup());

    struct TCase {
        const char* kind;
        const char* reason;
        std::function<void(TSimFaults&)> faults;
        int hide = -1;  // a byte of the clock's that never arrives
    };
    const TCase cases[] = {
        {"refused", "the clock answered '?' to the command 1,K202XT", [](TSimFaults& f) { f.answerQuestion = true; }},
        {"bad_checksum", "record 2 of the clock's answer fails its checksum", [](TSimFaults& f) { f.badDigit = true; }},
        {"no_echo", "no echo of byte 1 ('1') of the command 1,K202XO within", [](TSimFaults& f) { f.noEcho = true; }},
        {"wrong_echo", "wrong echo of byte 1 of the command 1,K202XO: sent '1', the clock answered '0'",
         [](TSimFaults& f) { f.wrongEcho = true; }},
        {"short_answer", "the clock's answer to 1,K202XT was cut short: 368 of 377 characters", [](TSimFaults&) {}, ':'},
        // Last: the answer comes after the read has given up on it.
        {"no_reply", "no answer to the command 1,K202XT within", [](TSimFaults& f) { f.replyDelayMs = 3000; }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.kind);
        SetFaults(c.faults);
        if (c.hide >= 0) m_device->HideReceived(static_cast<unsigned char>(c.hide));
        const TClockResult read = m_state.Read(*m_port, true);
        EXPECT_FALSE(read);
        EXPECT_STREQ(read.Kind(), c.kind);
        EXPECT_NE(read.Reason().find(c.reason), std::string::npos) << read.Reason();
        EXPECT_TRUE(m_state.IsValid());
        EXPECT_TRUE(Same(*m_state.GetConfig(), before));
    }
}

TEST_F(Transfer, AWriteThatFailsLateSaysWhatTheClockMayHold) {
    // The clock stops echoing while the countdown before the stage runs.
    for (const int run : {1, 2}) {
        SCOPED_TRACE(run);
        m_countdown = TCountdownScript{};
        m_countdown.onRun = [this, run](int at) {
            if (at == run) SetFaults([](TSimFaults& f) { f.noEcho = true; });
        };
        SetFaults([](TSimFaults&) {});
        *m_state.GetConfig() = run == 1 ? ChangedSetup() : CSimClock::MakeFactorySetup();
        EXPECT_EQ(m_state.Write(*m_port), TWriteResult::Failed);
        const std::string reason = m_state.GetWriteFailure().Reason();
        EXPECT_NE(reason.find("no echo of byte 1"), std::string::npos) << reason;
        const char* left = run == 1 ? "the clock may already hold the new setup in its EEPROM"
                                    : "the new setup is stored in the clock's EEPROM, but the clock was not reset";
        EXPECT_NE(reason.find(left), std::string::npos) << reason;
    }
}

TEST_F(Transfer, AReplyLongerThanTheBufferIsRefused) {
    // Valid records followed by binary bytes that are neither ':' nor '?'.
    std::string tail(1200, '\0');
    for (std::size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<char>(i % 2 ? 0x80 + i % 0x7F : 0);
    m_device->AddAfterReply(tail);
    EXPECT_FALSE(m_state.Read(*m_port, false));
    EXPECT_FALSE(m_state.IsValid());
}

TEST_F(Transfer, OnlyTheOldK203RomExcusesBadChecksums) {
    const TClockConfig stored = m_sim.GetEeprom();
    SetFaults([](TSimFaults& f) {
        f.badDigit = true;
        f.oldRom = true;
    });

    // Another model never asks for the version and keeps the check.
    EXPECT_FALSE(m_state.Read(*m_port, true));
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K202XO", "1,K202XT"}));

    m_state.SetModel(2);
    m_sim.ClearCommandLog();
    ASSERT_TRUE(m_state.Read(*m_port, true));
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K203XO", "1,K203XT", "v"}));
    // Taken as sent: the changed digit is in the second record's first byte.
    const std::uint8_t* got = ConfigBytes(*m_state.GetConfig());
    const std::uint8_t* want = ConfigBytes(stored);
    EXPECT_NE(got[16], want[16]);
    EXPECT_EQ(std::memcmp(got + 17, want + 17, CLOCK_CONFIG_SIZE - 17), 0);
    EXPECT_EQ(std::memcmp(got, want, 16), 0);

    // The same model with a newer ROM keeps the check.
    CClockState other;
    other.SetModel(2);
    SetFaults([](TSimFaults& f) { f.badDigit = true; });
    m_sim.ClearCommandLog();
    EXPECT_FALSE(other.Read(*m_port, true));
    EXPECT_EQ(Log(), (std::vector<std::string>{"1,K203XO", "1,K203XT", "v"}));
    EXPECT_FALSE(other.IsValid());
}

TEST_F(Transfer, ANeverEchoingClockGetsFiveAttemptsPerByte) {
    // A clock that never echoes: every byte is tried five times, in order.
    SetFaults([](TSimFaults& f) { f.noEcho = true; });
    EXPECT_FALSE(m_state.SendCommand(*m_port, ACTIVE_TO_PC));
    std::string expected;
    for (char c : std::string("1,K202XT")) expected += std::string(5, c);
    EXPECT_EQ(m_device->Written(), expected);

    // An unknown command writes nothing.
    EXPECT_FALSE(m_state.SendCommand(*m_port, static_cast<TClockCommand>(42)));
    EXPECT_EQ(m_device->Written(), expected);
}

TEST_F(Transfer, ACommandWithAByteSentAgainFailsThoughItsLastByteIsEchoed) {
    // The first byte is never echoed: all five attempts go out, so the clock
    // may hold "T" several times; the echoed last byte does not make it right.
    m_device->HideReceived('T');
    EXPECT_FALSE(m_state.SendCommand(*m_port, GET_UTC_TIME));
    EXPECT_EQ(m_device->Written(), "TTTTTU");
}

}  // namespace
