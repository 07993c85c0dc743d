// The termios device: line settings both ways, what an open does to the line
// and what a close gives back, exclusive use.
#include <sys/ioctl.h>

#include "SerialTestSupport.h"
#include "TermiosDevice.h"

namespace {

TLineSettings Line(std::uint32_t rate, std::uint8_t bits, TParity parity, TStopBits stop) {
    TLineSettings line;
    line.rate = rate;
    line.dataBits = bits;
    line.parity = parity;
    line.stopBits = stop;
    return line;
}

TEST(TermiosMapping, EveryParityAndStopCodeSurvivesTheRoundTrip) {
    for (TParity parity : {TParity::None, TParity::Odd, TParity::Even, TParity::Mark, TParity::Space}) {
        for (std::uint8_t bits = 5; bits <= 8; ++bits) {
            TLineSettings in = Line(4800, bits, parity, bits == 5 ? TStopBits::OneAndHalf : TStopBits::Two);
            in.parityCheck = parity != TParity::None;
            termios tio{};
            ASSERT_TRUE(CTermiosDevice::LineToTermios(in, tio)) << int(parity) << " " << int(bits);
            TLineSettings out;
            CTermiosDevice::TermiosToLine(tio, out);
            EXPECT_EQ(out, in);
        }
    }
}

TEST(TermiosMapping, LineIsRawWithFlowControlAsAsked) {
    TLineSettings in = Line(115200, 8, TParity::Mark, TStopBits::One);
    in.xonOut = true;
    in.xonIn = true;
    termios tio{};
    tio.c_lflag = ICANON | ECHO | ISIG;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_iflag = ICRNL;
    ASSERT_TRUE(CTermiosDevice::LineToTermios(in, tio));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & ICRNL, 0u);
    EXPECT_EQ(tio.c_cflag & (PARENB | CMSPAR | PARODD), tcflag_t(PARENB | CMSPAR | PARODD));
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);
    EXPECT_NE(tio.c_iflag & IXON, 0u);
    EXPECT_NE(tio.c_iflag & IXOFF, 0u);
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
}

TEST(TermiosMapping, RefusesWhatNoLineCanDo) {
    termios tio{};
    EXPECT_FALSE(CTermiosDevice::LineToTermios(Line(0, 8, TParity::None, TStopBits::One), tio));
    EXPECT_FALSE(CTermiosDevice::LineToTermios(Line(12345, 8, TParity::None, TStopBits::One), tio));
    EXPECT_FALSE(CTermiosDevice::LineToTermios(Line(9600, 4, TParity::None, TStopBits::One), tio));
    EXPECT_FALSE(CTermiosDevice::LineToTermios(Line(9600, 8, static_cast<TParity>(5), TStopBits::One), tio));
    EXPECT_FALSE(CTermiosDevice::LineToTermios(Line(9600, 8, TParity::None, TStopBits::OneAndHalf), tio));
    EXPECT_FALSE(CTermiosDevice::LineToTermios(Line(9600, 5, TParity::None, TStopBits::Two), tio));
    EXPECT_TRUE(CTermiosDevice::LineToTermios(Line(9600, 8, TParity::None, TStopBits::One), tio));
}

TEST(TermiosDevice, OpenMakesTheLineRawAndCloseGivesItBack) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    termios before{};
    ASSERT_EQ(tcgetattr(pty.Keeper(), &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_oflag |= OPOST | ONLCR;
    before.c_iflag |= ICRNL;
    cfsetspeed(&before, B1200);
    ASSERT_EQ(tcsetattr(pty.Keeper(), TCSANOW, &before), 0);

    CTermiosDevice device;
    ASSERT_TRUE(device.Open(pty.Path()));
    termios during{};
    ASSERT_EQ(tcgetattr(pty.Keeper(), &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(during.c_oflag & OPOST, 0u);
    EXPECT_EQ(during.c_iflag & ICRNL, 0u);
    EXPECT_EQ(during.c_cc[VMIN], 0);

    device.Close();
    EXPECT_FALSE(device.IsOpen());
    termios after{};
    ASSERT_EQ(tcgetattr(pty.Keeper(), &after), 0);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(after.c_oflag & OPOST, tcflag_t(OPOST));
    EXPECT_EQ(cfgetospeed(&after), speed_t(B1200));
    device.Close();  // twice is harmless
}

TEST(TermiosDevice, RefusesWhatIsNotATerminal) {
    CTempDir dir;
    const std::string file = dir.File("plain");
    WriteWholeFile(file, "x");
    CTermiosDevice device;
    errno = 0;
    EXPECT_FALSE(device.Open(file));
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_FALSE(device.IsOpen());
}

TEST(TermiosDevice, QueueCountsPurgeAndCountersOnAPseudoTerminal) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CTermiosDevice device;
    ASSERT_TRUE(device.Open(pty.Path()));
    ASSERT_TRUE(pty.Send("12345"));
    ASSERT_TRUE(HasAny(device.Wait(TDeviceEvents::Input, 2000), TDeviceEvents::Input));
    unsigned queued = 0;
    ASSERT_TRUE(device.QueuedInput(queued));
    EXPECT_EQ(queued, 5u);
    EXPECT_TRUE(device.Purge(true, false));
    ASSERT_TRUE(device.QueuedInput(queued));
    EXPECT_EQ(queued, 0u);

    // No counters on a pseudo-terminal: read as no errors.
    CSerialDevice::TErrorCounts counts;
    counts.frame = 7;
    EXPECT_TRUE(device.GetErrorCounts(counts));
    EXPECT_EQ(counts.frame, 0u);

    // A hung-up line: the wait says so, a write fails.
    pty.CloseMaster();
    EXPECT_TRUE(HasAny(device.Wait(TDeviceEvents::Input, 2000), TDeviceEvents::HungUp));
    const unsigned char c = 'x';
    EXPECT_LT(device.Write(&c, 1), 0);
    EXPECT_EQ(errno, EIO);
}

}  // namespace
