// The simulated clock as the port "SIM": reached through the ordinary port,
// its EEPROM kept in a file under the data directory across clock starts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "HexCodec.h"
#include "EchoPatience.h"
#include "Messages.h"
#include "PortCatalogue.h"
#include "Profile.h"
#include "SimClock.h"
#include "SimSetups.h"
#include "SimPort.h"
#include "RecordingClockUi.h"
#include "TestSupport.h"

namespace {

// Sets an environment variable for one test, then puts the old value back.
class CEnvVar {
public:
    CEnvVar(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = std::make_unique<std::string>(old);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~CEnvVar() {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::unique_ptr<std::string> m_old;
};

std::string SetupFileBytes(const TClockConfig& config) {
    CClockState state;
    *state.GetConfig() = config;
    std::ostringstream out;
    state.Serialize(out);
    return out.str();
}

class SimPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSimPort();
        // The same clock, with a late echo waited for (see EchoPatience.h).
        CPortCatalogue::RegisterVirtualPort(CSimPort::NAME, CSimPort::DESCRIPTION, [] {
            return std::make_shared<CPatientDevice>(std::make_unique<CSimPort>());
        });
        WriteProfileInt("Communication", "AutoOpen", 0);
        WriteProfileInt("Communication", "CharDelay", 10);
        WriteProfileInt("Communication", "ReadTimeOut", 300);
    }
    void TearDown() override {
        CSimPort::Shutdown();
        CPortCatalogue::UnregisterVirtualPort(CSimPort::NAME);
    }
    std::string EepromFile() const { return m_data.Path() + "/tarvel/sim-eeprom.hcs"; }
    // Reads the clock's setup through a port opened on "SIM".
    bool ReadFromSim(CClockState& state) {
        CCommPort port;
        return port.Open("SIM") && state.Read(port, true);
    }

    CTestProfile m_profile;
    CRecordingClockUi m_ui;  // countdowns answer at once
    CTempDir m_data;
    CEnvVar m_dataHome{"XDG_DATA_HOME", m_data.Path().c_str()};
};

TEST_F(SimPortTest, FreshClockStartsFromTheFactoryAndKeepsItsStoresInTheFile) {
    CClockState state;
    {
        CCommPort port;
        ASSERT_TRUE(port.Open("SIM"));
        std::string name;
        ASSERT_TRUE(port.GetPortName(name));
        EXPECT_EQ(name, "SIM");
        ASSERT_TRUE(state.Read(port, true));
        EXPECT_TRUE(Same(*state.GetConfig(), CSimClock::MakeFactorySetup()));
        EXPECT_FALSE(std::ifstream(EepromFile()).good());  // nothing stored yet

        // The whole write: records, verification, store into EEPROM, reset.
        state.SetUi(&m_ui);
        ASSERT_TRUE(state.SetItem(3, 4, false));   // a choice
        ASSERT_TRUE(state.SetItem(15, 30, false)); // a number
        ASSERT_TRUE(state.SetItem(57, 123, false)); // a whole word
        ASSERT_EQ(state.Write(port), TWriteResult::Written);
    }
    // Stored by the clock itself, before any shutdown.
    EXPECT_EQ(ReadWholeFile(EepromFile()), SetupFileBytes(*state.GetConfig()));
    struct stat st {};
    ASSERT_EQ(::stat((m_data.Path() + "/tarvel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A new clock (as in the next run) starts from the file.
    CSimPort::Shutdown();
    CClockState again;
    ASSERT_TRUE(ReadFromSim(again));
    EXPECT_TRUE(Same(*again.GetConfig(), *state.GetConfig()));
    EXPECT_TRUE(m_ui.messages.empty());
}

TEST_F(SimPortTest, AWriteReturnsWithTheClocksEchoAlreadyOnTheLine) {
    // However loaded the machine, the echo is there at once: no wait between
    // the write and the read.
    CSimPort device;
    ASSERT_TRUE(device.Open("SIM"));
    for (char c : std::string("1,K202XT")) {
        const unsigned char byte = static_cast<unsigned char>(c);
        ASSERT_EQ(device.Write(&byte, 1), 1);
        unsigned char echo = 0;
        ASSERT_EQ(device.Read(&echo, 1), 1) << c;
        EXPECT_EQ(echo, byte);
    }
    // The records the command asked for are written right after its last
    // echo; the whole text follows.
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.size() < RAW_TEXT_SIZE && std::chrono::steady_clock::now() < end) {
        unsigned char buf[512];
        const ssize_t n = device.Read(buf, sizeof buf);
        if (n > 0) text.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        else device.Wait(TDeviceEvents::Input, 100);
    }
    EXPECT_EQ(text.size(), RAW_TEXT_SIZE);
    EXPECT_TRUE(VerifyChecksums(text.data(), text.size()));
    device.Close();
}

TEST_F(SimPortTest, TheClockHearsTheProgramOnlyAtTheRateItListensAt) {
    CSimClock* clock = CSimPort::GetClock();
    ASSERT_NE(clock, nullptr);
    TSimFaults faults;
    faults.onlyAtRate = 19200;
    clock->SetFaults(faults);
    CSimPort device;
    ASSERT_TRUE(device.Open("SIM"));
    for (std::uint32_t rate : {9600u, 19200u}) {
        TLineSettings line;
        ASSERT_TRUE(device.GetLineState(line));
        line.rate = rate;
        ASSERT_TRUE(device.SetLineState(line));
        const unsigned char v = 'v';
        ASSERT_EQ(device.Write(&v, 1), 1);  // back once the clock has dealt with it
        unsigned char echo = 0;
        EXPECT_EQ(device.Read(&echo, 1) == 1, rate == 19200) << rate;
        ASSERT_TRUE(device.Purge(true, false));
    }
}

TEST_F(SimPortTest, ChangesMadeDirectlyAreSavedAtShutdownAndAnUnchangedFileIsLeftAlone) {
    CSimClock* clock = CSimPort::GetClock();
    ASSERT_NE(clock, nullptr);
    TClockConfig changed = CSimClock::MakeFactorySetup();
    changed.keyLock = 1;
    clock->SetEeprom(changed);
    CSimPort::Shutdown();
    ASSERT_EQ(ReadWholeFile(EepromFile()), SetupFileBytes(changed));

    // Started from the file and not changed: the file is not replaced (another
    // program on the same file may have stored meanwhile).
    struct stat before {}, after {};
    ASSERT_EQ(::stat(EepromFile().c_str(), &before), 0);
    ASSERT_NE(CSimPort::GetClock(), nullptr);
    EXPECT_TRUE(Same(CSimPort::GetClock()->GetEeprom(), changed));
    EXPECT_TRUE(Same(CSimPort::GetClock()->GetActive(), changed));
    CSimPort::Shutdown();
    ASSERT_EQ(::stat(EepromFile().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(SimPortTest, UnusableFileIsKeptAsideAndTheClockStartsFromTheFactory) {
    ASSERT_EQ(::mkdir((m_data.Path() + "/tarvel").c_str(), 0700), 0);
    std::string wrongSignature = SetupFileBytes(CSimClock::MakeFactorySetup());
    wrongSignature[6] = 'X';
    std::string longer = SetupFileBytes(CSimClock::MakeFactorySetup()) + "x";
    for (const std::string& bad : {std::string("not a setup"), wrongSignature, longer}) {
        WriteWholeFile(EepromFile(), bad);
        WriteWholeFile(EepromFile() + ".bad", "an older one");
        testing::internal::CaptureStderr();
        CSimClock* clock = CSimPort::GetClock();
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_NE(clock, nullptr);
        EXPECT_TRUE(Same(clock->GetEeprom(), CSimClock::MakeFactorySetup()));
        // Never overwritten silently: moved beside the older one, and said so.
        EXPECT_EQ(ReadWholeFile(EepromFile() + ".bad.1"), bad);
        EXPECT_EQ(ReadWholeFile(EepromFile() + ".bad"), "an older one");
        EXPECT_NE(said.find("kept as " + EepromFile() + ".bad.1"), std::string::npos) << said;

        // The clock keeps its own file again from then on.
        CSimPort::Shutdown();
        EXPECT_EQ(ReadWholeFile(EepromFile()), SetupFileBytes(CSimClock::MakeFactorySetup()));
        ::unlink((EepromFile() + ".bad.1").c_str());
    }
}

TEST_F(SimPortTest, EepromPathFollowsTheDataDirectoryRules) {
    {
        CEnvVar data("XDG_DATA_HOME", "/srv/data//");
        EXPECT_EQ(CSimPort::EepromPath(), "/srv/data/tarvel/sim-eeprom.hcs");
    }
    CEnvVar home("HOME", "/home/someone");
    for (const char* ignored : {"relative/dir", ""}) {
        CEnvVar data("XDG_DATA_HOME", ignored);
        EXPECT_EQ(CSimPort::EepromPath(), "/home/someone/.local/share/tarvel/sim-eeprom.hcs") << ignored;
    }
}

}  // namespace
