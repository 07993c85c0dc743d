// Line settings as texts, the choice lists, applying them to the port and
// reading them back, and the profile at start and exit. Run on the fake
// device: a pseudo-terminal cannot keep 7 data bits or parity.
#include <cstring>
#include <filesystem>

#include "SerialTestSupport.h"

namespace {

const std::string kMissing = "<missing>";

std::string Stored(const char* section, const char* key) { return GetProfileString(section, key, kMissing); }

class PortSettingsTest : public CSerialTest {
protected:
    // Starts from a profile file that does not exist.
    void EmptyProfile() { std::filesystem::remove(m_profile.Path()); }
    // The open port's line settings as texts.
    CPortSettings ReadBack(CCommPort& port) {
        CPortSettings now;
        EXPECT_TRUE(port.GetSettings(now));
        return now;
    }
};

TEST_F(PortSettingsTest, EmptyProfileOpensComOneAndStoresEverythingAtExit) {
    EmptyProfile();
    {
        auto port = MakeFakePort();
        EXPECT_TRUE(port->IsOpen());
        EXPECT_EQ(m_fake->LastPath(), "/dev/ttyS0");
        // The open itself, then baud, data bits, parity and stop bits.
        EXPECT_EQ(m_fake->SetLineStateCalls(), 5);
    }
    EXPECT_EQ(Stored("Debug", "Verbose"), "0");
    EXPECT_EQ(Stored("Intelligence", "AutoOpen"), "1");
    EXPECT_EQ(Stored("Communication", "AutoOpen"), kMissing);
    EXPECT_EQ(Stored("Communication", "CommPort"), "COM1");
    EXPECT_EQ(Stored("Communication", "Baud"), "9600");
    EXPECT_EQ(Stored("Communication", "DataLength"), "8");
    EXPECT_EQ(Stored("Communication", "Parity"), "No Parity");
    EXPECT_EQ(Stored("Communication", "StopLength"), "1");
    EXPECT_FALSE(m_fake->IsOpen());
}

TEST_F(PortSettingsTest, AutoOpenOffLeavesThePortClosedAndTheSettingsAlone) {
    WriteProfileString("Communication", "Baud", "1200");
    {
        auto port = MakeFakePort();
        EXPECT_FALSE(port->IsOpen());
        EXPECT_EQ(m_fake->OpenCount(), 0);
    }
    EXPECT_EQ(Stored("Intelligence", "AutoOpen"), "0");
    EXPECT_EQ(Stored("Debug", "Verbose"), "0");
    EXPECT_EQ(Stored("Communication", "CommPort"), kMissing);
    EXPECT_EQ(Stored("Communication", "Baud"), "1200");

    // On, but with an empty port name: nothing to open.
    WriteProfileInt("Communication", "AutoOpen", 1);
    WriteProfileString("Communication", "CommPort", "");
    CPortSettings stored;
    EXPECT_FALSE(stored.LoadProfile());
    auto port = MakeFakePort();
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(m_fake->OpenCount(), 0);
}

TEST_F(PortSettingsTest, UnknownParityTextStopsTheRestoreAndClosesThePort) {
    WriteProfileInt("Communication", "AutoOpen", 1);
    WriteProfileInt("Debug", "Verbose", 1);
    WriteProfileString("Communication", "CommPort", "/dev/ttyUSB3");
    WriteProfileString("Communication", "Baud", "19200");
    WriteProfileString("Communication", "DataLength", "7");
    WriteProfileString("Communication", "Parity", "no parity");
    WriteProfileString("Communication", "StopLength", "2");
    auto port = MakeFakePort();
    EXPECT_FALSE(port->IsOpen());
    DCB dcb = m_fake->LineState();
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);  // never got that far
    // The one box names the refused setting and what it may hold.
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].find("SetParity"), std::string::npos) << m_boxes[0];
    EXPECT_NE(m_boxes[0].find("Parity=no parity"), std::string::npos) << m_boxes[0];
    EXPECT_NE(m_boxes[0].find("No Parity, Odd, Even"), std::string::npos) << m_boxes[0];

    // The same on a port opened by hand (as tarvelctl does).
    CRecordingTarget notify;
    port->SetNotifyWnd(&notify);
    CPortSettings stored;
    stored.LoadProfile();
    ASSERT_TRUE(port->Open("/dev/ttyUSB3"));
    EXPECT_FALSE(port->ApplySettings(stored, CCommPort::TSettingsFrom::PROFILE));
    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back().Code(), -1);
    EXPECT_FALSE(port->IsOpen());
}

TEST_F(PortSettingsTest, DeviceRefusingARestoredSettingIsReportedTwice) {
    WriteProfileInt("Communication", "AutoOpen", 1);
    WriteProfileInt("Debug", "Verbose", 1);
    WriteProfileString("Communication", "Baud", "12345");
    auto port = MakeFakePort();
    EXPECT_FALSE(port->IsOpen());
    ASSERT_EQ(m_boxes.size(), 2u);
    // The device's reason, then the same with the setting named; never the calls.
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(EINVAL)) + "\n");
    EXPECT_EQ(m_boxes[1].rfind(m_boxes[0], 0), 0u) << m_boxes[1];
    EXPECT_NE(m_boxes[1].find("Baud=12345"), std::string::npos) << m_boxes[1];
}

TEST_F(PortSettingsTest, MarkParityFromModeIsStoredAsResourceErrorAndFailsNextTime) {
    WriteProfileInt("Communication", "AutoOpen", 1);
    WriteProfileString("Communication", "Mode", "baud=9600 parity=m data=8 stop=1");
    WriteProfileString("Communication", "Parity", "");
    {
        auto port = MakeFakePort();
        ASSERT_TRUE(port->IsOpen());
        EXPECT_EQ(m_fake->LineState().Parity, MARKPARITY);
        std::string text;
        EXPECT_TRUE(ReadBack(*port).GetParity(text));
        EXPECT_EQ(text, "Resource error!");
    }
    EXPECT_EQ(Stored("Communication", "Parity"), "Resource error!");
    {
        auto port = MakeFakePort();
        EXPECT_FALSE(port->IsOpen());
    }
}

TEST_F(PortSettingsTest, SettersTakeTheLeadingNumberOrTheExactListText) {
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    using C = CPortSettings;
    const struct {
        bool (C::*set)(const std::string&);
        bool (C::*get)(std::string&) const;
        const char* text;
        const char* back;  // as the device reads back; nullptr: refused, the device never asked
    } rows[] = {
        {&C::SetStopLength, &C::GetStopLength, "2", "2"},       {&C::SetStopLength, &C::GetStopLength, "1x", "1"},
        {&C::SetStopLength, &C::GetStopLength, "3", nullptr},   {&C::SetStopLength, &C::GetStopLength, "", nullptr},
        {&C::SetBaud, &C::GetBaud, "115200", "115200"},         {&C::SetDataLength, &C::GetDataLength, "7", "7"},
        {&C::SetParity, &C::GetParity, "Odd", "Odd"},           {&C::SetParity, &C::GetParity, "odd", nullptr},
        {&C::SetFlowControl, &C::GetFlowControl, "none", nullptr},
    };
    for (const auto& row : rows) {
        CPortSettings chosen;
        const int calls = m_fake->SetLineStateCalls();
        EXPECT_EQ((chosen.*row.set)(row.text), row.back != nullptr) << row.text;
        EXPECT_TRUE(port->ApplySettings(chosen)) << row.text;
        EXPECT_EQ(m_fake->SetLineStateCalls(), calls + (row.back ? 1 : 0)) << row.text;
        if (!row.back) continue;
        std::string text;
        EXPECT_TRUE((ReadBack(*port).*row.get)(text)) << row.text;
        EXPECT_EQ(text, row.back);
    }
    EXPECT_EQ(m_fake->LineState().StopBits, ONESTOPBIT);
    EXPECT_FALSE(m_fake->LineState().fParity);  // parity checking is left as it was
    EXPECT_TRUE(port->IsOpen());
}

TEST_F(PortSettingsTest, GettersOnOddSettings) {
    WriteProfileString("Communication", "Mode", "baud=9600 parity=s data=5 stop=1.5");
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    std::string text = "before";
    const CPortSettings now = ReadBack(*port);
    EXPECT_FALSE(now.GetStopLength(text));
    EXPECT_EQ(text, "before");
    EXPECT_TRUE(now.GetParity(text));
    EXPECT_EQ(text, "Resource error!");
    EXPECT_TRUE(port->IsOpen());

    port->Close();
    CPortSettings closed;
    EXPECT_FALSE(port->GetSettings(closed));
    EXPECT_FALSE(closed.GetBaud(text));
    EXPECT_TRUE(closed.GetPortName(text));  // the name outlives the open
    EXPECT_EQ(text, "COM1");
    CPortSettings chosen;
    chosen.SetBaud("9600");
    EXPECT_FALSE(port->ApplySettings(chosen));
}

TEST_F(PortSettingsTest, FlowControlReadsBackAsDataReadyAfterNone) {
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    std::string text;
    EXPECT_TRUE(ReadBack(*port).GetFlowControl(text));
    EXPECT_EQ(text, "None");
    CPortSettings chosen;
    ASSERT_TRUE(chosen.SetFlowControl("Xon / Xoff"));
    EXPECT_TRUE(port->ApplySettings(chosen));
    EXPECT_TRUE(ReadBack(*port).GetFlowControl(text));
    EXPECT_EQ(text, "Xon / Xoff");
    EXPECT_TRUE(m_fake->LineState().fInX);
    ASSERT_TRUE(chosen.SetFlowControl("None"));
    EXPECT_TRUE(port->ApplySettings(chosen));
    EXPECT_TRUE(ReadBack(*port).GetFlowControl(text));
    EXPECT_EQ(text, "Data Ready");
}

TEST_F(PortSettingsTest, ValueKeepsStoredTextsAsTheyAreAndStoresWhatItHolds) {
    // An empty key leaves its setting out; a text the line cannot take is
    // kept for the port to refuse by name.
    WriteProfileString("Communication", "Parity", "");
    WriteProfileString("Communication", "StopLength", "3");
    CPortSettings stored;
    ASSERT_TRUE(stored.LoadProfile());
    std::string text;
    EXPECT_FALSE(stored.GetParity(text));
    EXPECT_TRUE(stored.GetStopLength(text));
    EXPECT_EQ(text, "3");
    EXPECT_TRUE(stored.GetBaud(text));  // missing: the default
    EXPECT_EQ(text, "9600");

    stored.SetPortName("/dev/ttyUSB0");
    ASSERT_TRUE(stored.SetBaud("19200"));
    stored.SaveProfile();
    EXPECT_EQ(Stored("Communication", "CommPort"), "/dev/ttyUSB0");
    EXPECT_EQ(Stored("Communication", "Baud"), "19200");
    EXPECT_EQ(Stored("Communication", "Parity"), "");
    EXPECT_EQ(Stored("Communication", "StopLength"), "3");
}

TEST_F(PortSettingsTest, ListsAndDefaults) {
    std::vector<std::string> list = {"kept"};
    EXPECT_TRUE(CPortSettings::ListParities(list));
    EXPECT_EQ(list, (std::vector<std::string>{"kept", "No Parity", "Odd", "Even"}));
    list.clear();
    CPortSettings::ListBauds(list);
    EXPECT_EQ(list, (std::vector<std::string>{"1200", "2400", "4800", "9600", "19200", "38400", "115200"}));
    list.clear();
    EXPECT_TRUE(CPortSettings::ListPorts(list));
    ASSERT_GE(list.size(), 4u);
    // Each with what this machine has behind it.
    for (int n = 0; n < 4; ++n) EXPECT_EQ(list[n].rfind("COM" + std::to_string(n + 1) + " (", 0), 0u) << list[n];
    std::string text;
    EXPECT_TRUE(CPortSettings::GetDefaultParity(text));
    EXPECT_EQ(text, "No Parity");
    EXPECT_TRUE(CPortSettings::GetDefaultStopLength(text));
    EXPECT_EQ(text, "1");
}

}  // namespace
