// The write and the set-time command on a fake line whose far end loses an
// echo or whose port refuses a write: faults the simulated clock cannot make
// on time.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "FakeSerialDevice.h"
#include "HexCodec.h"
#include "Profile.h"
#include "RecordingClockUi.h"
#include "SimClock.h"
#include "SimSetups.h"
#include "TestSupport.h"

namespace {

// A clock at the fake line's far end that answers inside each write, so no
// echo is ever late: it echoes every command byte but the chosen one, takes
// the records after XR into its active memory, answers XT with them and
// stores them on XS. It is lenient with doubled bytes, which a real clock is
// not, so a wrong result cannot hide behind a refused command.
class CEchoingClock : public CFakeSerialDevice {
public:
    int dropEcho = 0;     // the command byte (counted from 1) whose echo is lost
    int refuseWrite = 0;  // the write (counted from 1) the port refuses, nothing sent
    TClockConfig active{};
    TClockConfig stored{};
    std::string line;     // every byte the clock received

    ssize_t Write(const unsigned char* buf, std::size_t size) override {
        if (++m_writes == refuseWrite) {
            errno = EIO;
            return -1;
        }
        const ssize_t n = CFakeSerialDevice::Write(buf, size);
        if (n > 0) Answer(PeerReadAll());
        return n;
    }

private:
    static bool EndsWith(const std::string& text, const char* tail) {
        const std::size_t n = std::strlen(tail);
        return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
    }
    void Answer(const std::string& bytes) {
        line += bytes;
        std::string out;
        for (char c : bytes) {
            if (m_recordsLeft > 0) {
                m_records += c;
                if (--m_recordsLeft == 0) RawToConfig(active, m_records.data(), m_records.size());
                continue;
            }
            if (++m_commandBytes != dropEcho) out += c;
            m_pending += c;
            if (EndsWith(m_pending, "XR")) {
                m_records.clear();
                m_recordsLeft = RAW_TEXT_SIZE;
            } else if (EndsWith(m_pending, "XT")) {
                char text[RAW_TEXT_SIZE];
                out.append(text, ConfigToRaw(text, sizeof text, active));
            } else if (EndsWith(m_pending, "XS")) {
                stored = active;
            } else {
                continue;
            }
            m_pending.clear();
        }
        if (!out.empty()) PeerWrite(out);
    }

    int m_writes = 0;
    int m_commandBytes = 0;
    std::size_t m_recordsLeft = 0;
    std::string m_records;
    std::string m_pending;
};

class FakeLine : public ::testing::Test {
protected:
    void SetUp() override {
        WriteProfileInt("Communication", "AutoOpen", 0);
        // The fake clock echoes at once; the pause only has to pass.
        WriteProfileInt("Communication", "CharDelay", 1);
        m_state.SetUi(&m_ui);
        m_port = std::make_unique<CCommPort>(nullptr, [this] { return m_clock; });
        ASSERT_TRUE(m_port->Open("fake"));
        *m_state.GetConfig() = ChangedSetup();
    }
    void TearDown() override { m_port.reset(); }

    CTestProfile m_profile;
    CRecordingClockUi m_ui;  // its countdowns answer OK at once
    std::shared_ptr<CEchoingClock> m_clock = std::make_shared<CEchoingClock>();
    std::unique_ptr<CCommPort> m_port;
    CClockState m_state;
};

TEST_F(FakeLine, AWriteWithEveryEchoBackIsWrittenAndStored) {
    ASSERT_EQ(m_state.Write(*m_port), TWriteResult::Written);
    EXPECT_TRUE(Same(m_clock->stored, ChangedSetup()));
    // Each command byte went out once.
    const std::string& line = m_clock->line;
    EXPECT_EQ(line.substr(0, 8), "1,K202XR");
    EXPECT_EQ(line.substr(8 + RAW_TEXT_SIZE), "1,K202XT1,K202XS1,K202XX");
}

TEST_F(FakeLine, AnEchoLostInAnyCommandOfAWriteFailsTheWrite) {
    // The write's commands in order: XR, XT (the read-back), XS, XX, eight
    // bytes each; the echo of the fourth byte of one of them is lost.
    const char* commands[] = {"XR", "XT", "XS", "XX"};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(commands[k]);
        m_port->Close();
        m_clock = std::make_shared<CEchoingClock>();
        m_clock->dropEcho = 8 * k + 4;
        ASSERT_TRUE(m_port->Open("fake"));
        EXPECT_EQ(m_state.Write(*m_port), TWriteResult::Failed);
        // The byte was sent again after its lost echo.
        EXPECT_NE(m_clock->line.find("1,K2202X"), std::string::npos) << m_clock->line;
        EXPECT_TRUE(m_ui.messages.empty());
    }
}

TEST_F(FakeLine, AnEchoLostInTheSetTimeCommandFailsIt) {
    m_clock->dropEcho = 9;
    EXPECT_FALSE(m_state.SendCommand(*m_port, SET_UTC_TIME));
    ASSERT_EQ(m_clock->line.size(), 19u) << m_clock->line;
    EXPECT_EQ(m_clock->line[8], m_clock->line[9]);
    EXPECT_EQ(m_clock->line.substr(17), "TS");
}

TEST_F(FakeLine, AByteThePortRefusedIsSentAgainWithoutHarm) {
    // The third byte's first write puts nothing on the line.
    m_clock->refuseWrite = 3;
    EXPECT_TRUE(m_state.SendCommand(*m_port, ACTIVE_TO_EEPROM));
    EXPECT_EQ(m_clock->line, "1,K202XS");
}

}  // namespace
