// The port list: which ttys are serial ports, what they are called, their
// stable names; COM1..COM4 first; listed texts back to what is opened.
// Always on fake trees, never on this machine's devices.
#include <filesystem>
#include <sstream>

#include "FakeSysfs.h"
#include "PortCatalogue.h"
#include "PortEnum.h"
#include "SerialTestSupport.h"

namespace {

std::string Summary(const std::vector<TPortInfo>& found) {
    std::ostringstream out;
    for (const auto& info : found)
        out << info.name << " | " << info.devicePath << " | " << info.description << " | " << info.stableName << "\n";
    return out.str();
}

// A machine with a bit of everything.
void BuildMachine(CFakeSysfs& sys) {
    sys.AddUsb("ttyUSB10", "ftdi_sio", "FTDI", "FT232R USB UART", "A1B2C3");
    sys.AddUsb("ttyUSB2", "pl2303", "Prolific Technology Inc.", "USB-Serial Controller", "");
    sys.AddUsb("ttyXRUSB0", "xr_usb_serial", "", "", "");
    sys.AddUsb("ttyCH9344USB0", "cdc_ch9344", "wch.cn", "wch.cn CH9344", "");
    sys.AddTty("ttyAMA0", "uart-pl011");
    sys.AddTty("ttymxc0", "imx-uart");
    sys.AddTty("ttyTHS0", "serial-tegra");
    sys.AddTty("rfcomm0", "");                  // Bluetooth: no driver, still a port
    sys.AddTty("ttyS0", "serial8250");          // a real UART
    sys.SetType("ttyS0", 4);
    sys.AddTty("ttyS5", "serial8250");          // registered, no chip
    sys.SetType("ttyS5", 0);
    sys.AddTty("ttyS7", "serial8250");          // cannot tell: left out
    sys.AddTty("ttyS12", "exar_serial");        // a PCI card
    sys.AddTty("ttyUSB9", "");                  // device without a driver
    std::filesystem::create_directories(sys.ClassTty() + "/tty1");  // a console
    sys.AddById("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "ttyUSB10");
    sys.AddById("usb-Prolific_USB-Serial_Controller-if00-port0", "ttyUSB2");
    sys.AddById("usb-gone-if00-port0", "ttyUSB7");  // nothing behind it
}

class PortEnumTest : public CSerialTest {
protected:
    CTempDir m_tree;
    CFakeSysfs m_sys{m_tree.Path()};
};

TEST_F(PortEnumTest, SysfsFindsEveryRealPortWithNamesAndDescriptions) {
    BuildMachine(m_sys);
    const std::string byId = m_sys.ById() + "/";
    EXPECT_EQ(Summary(CPortEnum::FromSysfs(CPortEnum::TRoots::Under(m_tree.Path()))),
              "rfcomm0 | /dev/rfcomm0 | Bluetooth RFCOMM | \n"
              "ttyAMA0 | /dev/ttyAMA0 | uart-pl011 | \n"
              "ttyCH9344USB0 | /dev/ttyCH9344USB0 | wch.cn CH9344 | \n"
              "ttyS0 | /dev/ttyS0 | 16550A UART | \n"
              "ttyS12 | /dev/ttyS12 | exar_serial | \n"
              "ttyTHS0 | /dev/ttyTHS0 | serial-tegra | \n"
              "ttyUSB2 | /dev/ttyUSB2 | Prolific Technology Inc. USB-Serial Controller | " +
                  byId + "usb-Prolific_USB-Serial_Controller-if00-port0\n"
                         "ttyUSB10 | /dev/ttyUSB10 | FTDI FT232R USB UART, serial A1B2C3 | " +
                  byId + "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\n"
                         "ttyXRUSB0 | /dev/ttyXRUSB0 | xr_usb_serial | \n"
                         "ttymxc0 | /dev/ttymxc0 | imx-uart | \n");
    // No tree at all: nothing, and no failure.
    EXPECT_TRUE(CPortEnum::FromSysfs(CPortEnum::TRoots::Under(m_tree.File("nothing"))).empty());
}

TEST_F(PortEnumTest, DeviceTextsAndOddEntriesAreTamed) {
    // Texts are the device's bytes: control characters, endless names,
    // broken UTF-8 at the cut.
    m_sys.AddUsb("ttyUSB0", "ftdi_sio", "", std::string("Clock\tcable\x01\x7f  X") , "S\x1b[31mN");
    m_sys.AddUsb("ttyUSB1", "ftdi_sio", "", std::string(79, 'a') + "\xc3\xa9" + std::string(50, 'b'), "");
    m_sys.AddTty("ttyACM0", "cdc_acm");
    std::filesystem::remove(m_tree.Path() + "/sys/bus/drivers/cdc_acm");  // driver link leads nowhere
    std::filesystem::create_directories(m_sys.ClassTty() + "/tty weird");
    std::filesystem::create_directories(m_sys.ClassTty() + "/.hidden/device/driver");
    m_sys.AddTty("ttyS9", "serial8250");
    CFakeSysfs::Write(m_sys.ClassTty() + "/ttyS9/type", "banana\n");
    std::filesystem::create_directories(m_sys.ById());
    std::filesystem::create_directories(m_sys.ById() + "/not-a-link");

    const auto found = CPortEnum::FromSysfs(CPortEnum::TRoots::Under(m_tree.Path()));
    ASSERT_EQ(found.size(), 2u) << Summary(found);
    EXPECT_EQ(found[0].description, "Clock cable X, serial S [31mN");
    EXPECT_EQ(found[1].description, std::string(79, 'a'));  // never half a character
    EXPECT_EQ(CPortEnum::CleanText(" \n\t "), "");
}

TEST(PortEnumUdev, PropertiesBecomeAnEntry) {
    CPortEnum::TProperties ftdi = {
        {"ID_VENDOR", "FTDI"},
        {"ID_VENDOR_ENC", "FTDI"},
        {"ID_VENDOR_ID", "0403"},
        {"ID_MODEL", "FT232R_USB_UART"},
        {"ID_MODEL_ENC", "FT232R\\x20USB\\x20UART"},
        {"ID_MODEL_ID", "6001"},
        {"ID_MODEL_FROM_DATABASE", "FT232 Serial (UART) IC"},
        {"ID_SERIAL_SHORT", "A1B2C3"},
        {"DEVLINKS", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0 "
                     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"},
    };
    TPortInfo info = CPortEnum::FromUdevProperties("ttyUSB0", "/dev/ttyUSB0", ftdi, "ftdi_sio", -1);
    EXPECT_EQ(info.devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(info.description, "FTDI FT232R USB UART, serial A1B2C3");
    EXPECT_EQ(info.stableName, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");

    // A device without names of its own (udev puts its ids there): the database's.
    CPortEnum::TProperties cheap = {
        {"ID_VENDOR", "1a86"}, {"ID_VENDOR_ENC", "1a86"}, {"ID_VENDOR_ID", "1a86"},
        {"ID_VENDOR_FROM_DATABASE", "QinHeng Electronics"},
        {"ID_MODEL", "7523"},  {"ID_MODEL_ID", "7523"}, {"ID_MODEL_FROM_DATABASE", "CH340 serial converter"},
        {"DEVLINKS", "/dev/serial/by-path/x /dev/serial/by-id/"},
    };
    info = CPortEnum::FromUdevProperties("ttyUSB3", "", cheap, "ch341", -1);
    EXPECT_EQ(info.devicePath, "/dev/ttyUSB3");
    EXPECT_EQ(info.description, "QinHeng Electronics CH340 serial converter");
    EXPECT_EQ(info.stableName, "");  // a bare folder is no link

    // Model only, underscores as udev wrote them.
    info = CPortEnum::FromUdevProperties("ttyACM0", "/dev/ttyACM0", {{"ID_MODEL", "GPS_Receiver"}}, "cdc_acm", -1);
    EXPECT_EQ(info.description, "GPS Receiver");
    // Nothing but the driver, or the UART of a ttyS.
    EXPECT_EQ(CPortEnum::FromUdevProperties("ttyAMA0", "/dev/ttyAMA0", {}, "uart-pl011", -1).description, "uart-pl011");
    EXPECT_EQ(CPortEnum::FromUdevProperties("ttyS1", "/dev/ttyS1", {}, "serial8250", 4).description, "16550A UART");
    EXPECT_EQ(CPortEnum::FromUdevProperties("ttyX0", "/dev/ttyX0", {}, "", -1).description, "serial port");
}

TEST(PortEnumUdev, WhichTtysAreSerialPorts) {
    EXPECT_TRUE(CPortEnum::IsSerialPort("ttyUSB0", "ftdi_sio", -1));
    EXPECT_TRUE(CPortEnum::IsSerialPort("rfcomm3", "", -1));
    EXPECT_FALSE(CPortEnum::IsSerialPort("tty3", "", -1));
    EXPECT_FALSE(CPortEnum::IsSerialPort("rfcommX", "", -1));
    EXPECT_TRUE(CPortEnum::IsSerialPort("ttyS4", "serial8250", 4));
    EXPECT_FALSE(CPortEnum::IsSerialPort("ttyS4", "serial8250", 0));
    EXPECT_FALSE(CPortEnum::IsSerialPort("ttyS4", "serial8250", -1));
    EXPECT_TRUE(CPortEnum::IsSerialPort("ttyS4", "serial", 0));  // PnP: its own driver found the chip
}

TEST(PortEnumOrder, NaturalOrder) {
    EXPECT_TRUE(CPortEnum::NaturalLess("ttyUSB2", "ttyUSB10"));
    EXPECT_FALSE(CPortEnum::NaturalLess("ttyUSB10", "ttyUSB2"));
    EXPECT_TRUE(CPortEnum::NaturalLess("ttyACM9", "ttyUSB0"));
    EXPECT_TRUE(CPortEnum::NaturalLess("ttyS", "ttyS0"));
    EXPECT_FALSE(CPortEnum::NaturalLess("ttyS1", "ttyS1"));
    // Numbers too long to be one are compared as text, never overflow.
    EXPECT_TRUE(CPortEnum::NaturalLess("tty99999999999998", "tty99999999999999"));
}

TEST_F(PortEnumTest, CatalogueListsComPortsFirstThenDevicesThenVirtualPorts) {
    BuildMachine(m_sys);
    m_sys.AddNode("ttyS0");
    m_sys.AddNode("ttyS2");  // a node, but no UART behind it
    m_sys.AddTty("ttyS2", "serial8250");
    m_sys.SetType("ttyS2", 0);
    CSysfsRootOverride use(m_tree.Path());
    CPortCatalogue::RegisterVirtualPort("VIRT", "test line", [] { return std::make_shared<CFakeSerialDevice>(); });

    std::vector<std::string> listed;
    EXPECT_TRUE(CPortSettings::ListPorts(listed));
    CPortCatalogue::UnregisterVirtualPort("VIRT");
    EXPECT_EQ(listed, (std::vector<std::string>{
                          "COM1 (/dev/ttyS0, 16550A UART)",
                          "COM2 (absent)",
                          "COM3 (absent)",
                          "COM4 (absent)",
                          "/dev/rfcomm0 (Bluetooth RFCOMM)",
                          "/dev/ttyAMA0 (uart-pl011)",
                          "/dev/ttyCH9344USB0 (wch.cn CH9344)",
                          "/dev/ttyS12 (exar_serial)",
                          "/dev/ttyTHS0 (serial-tegra)",
                          "/dev/ttyUSB2 (Prolific Technology Inc. USB-Serial Controller)",
                          "/dev/ttyUSB10 (FTDI FT232R USB UART, serial A1B2C3)",
                          "/dev/ttyXRUSB0 (xr_usb_serial)",
                          "/dev/ttymxc0 (imx-uart)",
                          "VIRT (test line)",
                      }));
}

TEST_F(PortEnumTest, ListedTextOpensAndStoresTheStableName) {
    BuildMachine(m_sys);
    CSysfsRootOverride use(m_tree.Path());
    const std::string stable = m_sys.ById() + "/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";

    // Listed texts, in any case and with stray blanks; typed names as they are.
    EXPECT_EQ(CPortCatalogue::OpenName("/dev/ttyUSB10 (FTDI FT232R USB UART, serial A1B2C3)"), stable);
    EXPECT_EQ(CPortCatalogue::OpenName(" /dev/ttyusb10 (ftdi FT232R USB UART, serial A1B2C3) "), stable);
    EXPECT_EQ(CPortCatalogue::OpenName("/dev/ttyAMA0 (uart-pl011)"), "/dev/ttyAMA0");
    EXPECT_EQ(CPortCatalogue::OpenName("COM3 (absent)"), "COM3");
    for (const char* typed : {"/dev/ttyUSB10", "COM2", "SIM", "rfc2217://host:4000", " /dev/ttyX ", "a (b"})
        EXPECT_EQ(CPortCatalogue::OpenName(typed), typed);
    // Listed once, gone since: the name it had, so the open tells it is missing.
    EXPECT_EQ(CPortCatalogue::OpenName("/dev/ttyUSB4 (FTDI FT232R USB UART, serial ZZZ)"), "/dev/ttyUSB4");
    EXPECT_EQ(CPortCatalogue::OpenName("something (else)"), "something (else)");
    EXPECT_EQ(CPortCatalogue::StableTarget(stable), "/dev/ttyUSB10");
    EXPECT_EQ(CPortCatalogue::StableTarget("/dev/ttyUSB10"), "");

    {
        auto port = MakeFakePort();
        ASSERT_TRUE(port->Open("/dev/ttyUSB10 (FTDI FT232R USB UART, serial A1B2C3)"));
        EXPECT_EQ(m_fake->LastPath(), stable);
        std::string name;
        ASSERT_TRUE(port->GetPortName(name));
        EXPECT_EQ(name, stable);
    }
    EXPECT_EQ(GetProfileString("Communication", "CommPort", ""), stable);
}

TEST_F(PortEnumTest, MissingDeviceHintListsThePresentPorts) {
    m_sys.AddUsb("ttyUSB0", "ftdi_sio", "FTDI", "FT232R USB UART", "A1B2C3");
    m_sys.AddTty("ttyAMA0", "uart-pl011");
    m_sys.AddNode("ttyS1");
    CSysfsRootOverride use(m_tree.Path());
    WriteProfileInt("Debug", "Verbose", 1);
    m_fake->SetOpenError(ENOENT);
    auto port = MakeFakePort();
    EXPECT_FALSE(port->Open("/dev/ttyAMA0"));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].find("Serial ports found: COM2 (/dev/ttyS1); /dev/ttyUSB0 (FTDI FT232R USB UART, "
                              "serial A1B2C3)."),
              std::string::npos)
        << m_boxes[0];
}

}  // namespace
