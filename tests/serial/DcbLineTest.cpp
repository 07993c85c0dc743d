// The port's DCB and the device seam's line settings: each field a device
// uses crosses the edge both ways unchanged, out-of-range codes included
// (the device refuses them, not the conversion).
#include <gtest/gtest.h>

#include <tuple>

#include "DcbLine.h"

namespace {

auto Fields(const DCB& d) {
    return std::make_tuple(d.DCBlength, d.BaudRate, d.fBinary, d.fParity, d.fOutxCtsFlow, d.fOutxDsrFlow,
                           d.fDtrControl, d.fDsrSensitivity, d.fTXContinueOnXoff, d.fOutX, d.fInX, d.fErrorChar,
                           d.fNull, d.fRtsControl, d.fAbortOnError, d.ByteSize, d.Parity, d.StopBits, d.XonChar,
                           d.XoffChar);
}

struct TRow {
    DCB dcb;
    TLineSettings line;
};

const TRow kRows[] = {
    // The usual: 9600 8N1, DTR and RTS on.
    {{.DCBlength = 28, .BaudRate = 9600, .fBinary = true, .fDtrControl = DTR_CONTROL_ENABLE,
      .fRtsControl = RTS_CONTROL_ENABLE, .ByteSize = 8},
     {.rate = 9600, .dataBits = 8, .dtr = TDtrMode::On, .rts = TRtsMode::On}},
    // 7E2 checked, XON/XOFF both ways with characters of its own.
    {{.DCBlength = 28, .BaudRate = 19200, .fBinary = true, .fParity = true, .fOutX = true, .fInX = true,
      .ByteSize = 7, .Parity = EVENPARITY, .StopBits = TWOSTOPBITS, .XonChar = 'Q', .XoffChar = 'S'},
     {.rate = 19200, .dataBits = 7, .parity = TParity::Even, .stopBits = TStopBits::Two, .parityCheck = true,
      .xonOut = true, .xonIn = true, .xonChar = 'Q', .xoffChar = 'S'}},
    // The hardware handshake of the old mode form's "p", and DSR sensitivity.
    {{.DCBlength = 28, .BaudRate = 300, .fBinary = true, .fOutxCtsFlow = true, .fOutxDsrFlow = true,
      .fDtrControl = DTR_CONTROL_HANDSHAKE, .fDsrSensitivity = true, .fRtsControl = RTS_CONTROL_HANDSHAKE,
      .ByteSize = 5, .Parity = MARKPARITY, .StopBits = ONE5STOPBITS},
     {.rate = 300, .dataBits = 5, .parity = TParity::Mark, .stopBits = TStopBits::OneAndHalf, .ctsOutFlow = true,
      .dsrOutFlow = true, .dtr = TDtrMode::Handshake, .rts = TRtsMode::Handshake, .dsrSensitive = true}},
    // Odd and space parity, RTS toggling, XON/XOFF on output only.
    {{.DCBlength = 28, .BaudRate = 115200, .fBinary = true, .fOutX = true, .fRtsControl = RTS_CONTROL_TOGGLE,
      .ByteSize = 6, .Parity = SPACEPARITY},
     {.rate = 115200, .dataBits = 6, .parity = TParity::Space, .rts = TRtsMode::Toggle, .xonOut = true}},
    {{.DCBlength = 28, .BaudRate = 1200, .fBinary = true, .ByteSize = 8, .Parity = ODDPARITY},
     {.rate = 1200, .dataBits = 8, .parity = TParity::Odd}},
    // Codes no line has, and no rate: kept for the device to refuse.
    {{.DCBlength = 28, .BaudRate = 0, .fBinary = true, .fDtrControl = 3, .fRtsControl = 4, .ByteSize = 9,
      .Parity = 7, .StopBits = 3},
     {.rate = 0, .dataBits = 9, .parity = static_cast<TParity>(7), .stopBits = static_cast<TStopBits>(3),
      .dtr = static_cast<TDtrMode>(3), .rts = static_cast<TRtsMode>(4)}},
};

TEST(DcbLine, EachFieldADeviceUsesCrossesBothWaysUnchanged) {
    for (const TRow& row : kRows) {
        SCOPED_TRACE(row.dcb.BaudRate);
        EXPECT_TRUE(ToLineSettings(row.dcb) == row.line);
        EXPECT_EQ(Fields(ToDcb(row.line)), Fields(row.dcb));
        EXPECT_EQ(Fields(ToDcb(ToLineSettings(row.dcb))), Fields(row.dcb));
        EXPECT_TRUE(ToLineSettings(ToDcb(row.line)) == row.line);
    }
    // What no device uses comes back as the Windows serial API has it.
    DCB unused = kRows[0].dcb;
    unused.DCBlength = 0;
    unused.fBinary = false;
    unused.fTXContinueOnXoff = unused.fErrorChar = unused.fNull = unused.fAbortOnError = true;
    EXPECT_EQ(Fields(ToDcb(ToLineSettings(unused))), Fields(kRows[0].dcb));
}

}  // namespace
