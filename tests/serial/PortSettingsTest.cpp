// Line settings as texts, the choice lists, and the profile at start and exit.
// Run on the fake device: a pseudo-terminal cannot keep 7 data bits or parity.
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
    auto port = MakeFakePort();
    EXPECT_FALSE(port->LoadProfile());
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

    CRecordingTarget notify;
    port->SetNotifyWnd(&notify);
    EXPECT_FALSE(port->LoadProfile());
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
        EXPECT_TRUE(port->GetParity(text));
        EXPECT_EQ(text, "Resource error!");
    }
    EXPECT_EQ(Stored("Communication", "Parity"), "Resource error!");
    {
        auto port = MakeFakePort();
        EXPECT_FALSE(port->IsOpen());
    }
}

TEST_F(PortSettingsTest, SettersTakeTheLeadingNumber) {
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    std::string text;

    EXPECT_TRUE(port->SetStopLength("2"));
    EXPECT_EQ(m_fake->LineState().StopBits, TWOSTOPBITS);
    EXPECT_TRUE(port->SetStopLength("1x"));
    EXPECT_EQ(m_fake->LineState().StopBits, ONESTOPBIT);
    const int calls = m_fake->SetLineStateCalls();
    EXPECT_FALSE(port->SetStopLength("3"));
    EXPECT_FALSE(port->SetStopLength(""));
    EXPECT_EQ(m_fake->SetLineStateCalls(), calls);
    EXPECT_TRUE(port->IsOpen());

    EXPECT_TRUE(port->SetBaud("115200"));
    EXPECT_TRUE(port->GetBaud(text));
    EXPECT_EQ(text, "115200");
    EXPECT_TRUE(port->SetDataLength("7"));
    EXPECT_TRUE(port->GetDataLength(text));
    EXPECT_EQ(text, "7");

    // Parity by the exact list text; checking is left as it was.
    EXPECT_TRUE(port->SetParity("Odd"));
    EXPECT_TRUE(port->GetParity(text));
    EXPECT_EQ(text, "Odd");
    EXPECT_FALSE(m_fake->LineState().fParity);
    const int before = m_fake->SetLineStateCalls();
    EXPECT_FALSE(port->SetParity("odd"));
    EXPECT_EQ(m_fake->SetLineStateCalls(), before);
}

TEST_F(PortSettingsTest, GettersOnOddSettings) {
    WriteProfileString("Communication", "Mode", "baud=9600 parity=s data=5 stop=1.5");
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    std::string text = "before";
    EXPECT_FALSE(port->GetStopLength(text));
    EXPECT_EQ(text, "before");
    EXPECT_TRUE(port->GetParity(text));
    EXPECT_EQ(text, "Resource error!");
    EXPECT_TRUE(port->IsOpen());

    port->Close();
    EXPECT_FALSE(port->GetBaud(text));
    EXPECT_FALSE(port->SetBaud("9600"));
    EXPECT_TRUE(port->GetPortName(text));  // the name outlives the open
    EXPECT_EQ(text, "COM1");
}

TEST_F(PortSettingsTest, FlowControlReadsBackAsDataReadyAfterNone) {
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    std::string text;
    EXPECT_TRUE(port->GetFlowControl(text));
    EXPECT_EQ(text, "None");
    EXPECT_TRUE(port->SetFlowControl("Xon / Xoff"));
    EXPECT_TRUE(port->GetFlowControl(text));
    EXPECT_EQ(text, "Xon / Xoff");
    EXPECT_TRUE(m_fake->LineState().fInX);
    EXPECT_TRUE(port->SetFlowControl("None"));
    EXPECT_TRUE(port->GetFlowControl(text));
    EXPECT_EQ(text, "Data Ready");
    EXPECT_FALSE(port->SetFlowControl("none"));
}

TEST_F(PortSettingsTest, ListsAndDefaults) {
    auto port = MakeFakePort();
    std::vector<std::string> list = {"kept"};
    EXPECT_TRUE(port->ListParities(list));
    EXPECT_EQ(list, (std::vector<std::string>{"kept", "No Parity", "Odd", "Even"}));
    list.clear();
    port->ListBauds(list);
    EXPECT_EQ(list, (std::vector<std::string>{"1200", "2400", "4800", "9600", "19200", "38400", "115200"}));
    list.clear();
    EXPECT_TRUE(port->ListPorts(list));
    ASSERT_GE(list.size(), 4u);
    // Each with what this machine has behind it.
    for (int n = 0; n < 4; ++n) EXPECT_EQ(list[n].rfind("COM" + std::to_string(n + 1) + " (", 0), 0u) << list[n];
    std::string text;
    EXPECT_TRUE(port->GetDefaultParity(text));
    EXPECT_EQ(text, "No Parity");
    EXPECT_TRUE(port->GetDefaultStopLength(text));
    EXPECT_EQ(text, "1");
}

}  // namespace
