// tarvelctl ports, run as the built program on a fake machine.
#include <gtest/gtest.h>

#include "CtlRunner.h"
#include "FakeSysfs.h"
#include "TestSupport.h"

namespace {

class PortsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
    }
    CTempDir m_dir;
    CTempDir m_tree;
    CFakeSysfs m_sys{m_tree.Path()};
    CCtlRunner m_ctl{m_dir.Path()};
};

TEST_F(PortsCommand, ListsEveryPortOneALineWithTabs) {
    m_sys.AddUsb("ttyUSB10", "ftdi_sio", "FTDI", "FT232R USB UART", "A1B2C3");
    m_sys.AddById("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "ttyUSB10");
    m_sys.AddUsb("ttyUSB2", "ch341", "", "USB\tSerial\n", "");
    m_sys.AddTty("ttyAMA0", "uart-pl011");
    m_sys.AddTty("ttyS0", "serial8250");
    m_sys.SetType("ttyS0", 4);
    m_sys.AddNode("ttyS0");
    m_sys.AddNode("ttyS3");
    m_sys.AddTty("ttyS3", "serial8250");
    m_sys.SetType("ttyS3", 0);
    CSysfsRootOverride use(m_tree.Path());

    const TCtlResult r = m_ctl.Run({"ports"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "COM1\t-\t/dev/ttyS0, 16550A UART\tpresent\n"
                     "COM2\t-\t/dev/ttyS1\tabsent\n"
                     "COM3\t-\t/dev/ttyS2\tabsent\n"
                     "COM4\t-\t/dev/ttyS3\tabsent\n"
                     "/dev/ttyAMA0\t-\tuart-pl011\tpresent\n"
                     "/dev/ttyUSB2\t-\tUSB Serial\tpresent\n"
                     "/dev/ttyUSB10\t" + m_sys.ById() + "/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\t"
                     "FTDI FT232R USB UART, serial A1B2C3\tpresent\n"
                     "SIM\t-\tsimulated clock\tpresent\n");
}

TEST_F(PortsCommand, HelpAndUsage) {
    CSysfsRootOverride use(m_tree.Path());
    TCtlResult r = m_ctl.Run({"ports", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: tarvelctl ports", 0), 0u) << r.out;
    r = m_ctl.Run({"--help"});
    EXPECT_NE(r.out.find("\n  ports "), std::string::npos) << r.out;
    r = m_ctl.Run({"ports", "extra"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("too many arguments"), std::string::npos) << r.err;
}

}  // namespace
