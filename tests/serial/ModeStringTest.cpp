#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <tuple>

#include "ModeString.h"

namespace {

auto Fields(const DCB& d)
{
    return std::make_tuple(d.DCBlength, d.BaudRate, d.fBinary, d.fParity, d.fOutxCtsFlow, d.fOutxDsrFlow,
                           d.fDtrControl, d.fDsrSensitivity, d.fTXContinueOnXoff, d.fOutX, d.fInX, d.fErrorChar,
                           d.fNull, d.fRtsControl, d.fAbortOnError, d.ByteSize, d.Parity, d.StopBits, d.XonChar,
                           d.XoffChar);
}

// Every field set to something a successful parse would change.
DCB Sentinel()
{
    DCB d;
    d.DCBlength = 7;
    d.BaudRate = 1234;
    d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = d.fOutX = d.fInX = true;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fRtsControl = RTS_CONTROL_TOGGLE;
    d.ByteSize = 6;
    d.Parity = MARKPARITY;
    d.StopBits = ONE5STOPBITS;
    return d;
}

} // namespace

TEST(ModeString, NewFormChangesOnlyNamedFieldsButDefaultsStopBits)
{
    DCB d = Sentinel();
    ASSERT_TRUE(BuildCommDCB("baud=19200", d));
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.ByteSize, 6);
    EXPECT_EQ(d.Parity, MARKPARITY);
    EXPECT_TRUE(d.fOutX && d.fInX && d.fOutxCtsFlow && d.fOutxDsrFlow && d.fDsrSensitivity);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_TOGGLE);

    d = Sentinel();
    d.BaudRate = 110;
    d.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(BuildCommDCB("data=8", d)); // 110 already there, not asked for
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    d = Sentinel();
    ASSERT_TRUE(BuildCommDCB("data=8 stop=1.5", d)); // the driver judges the pair
    EXPECT_EQ(d.StopBits, ONE5STOPBITS);
    EXPECT_EQ(d.BaudRate, 1234u);
}

// Rows of a mode string and the line it gives on a zero-filled DCB, as the
// port prepares it. Columns: rate, parity, data bits, stop bits, then
// xon/xoff in and out, DSR and CTS output flow, DTR and RTS control.
struct TModeRow {
    const char* mode;
    std::uint32_t baud;
    std::uint8_t parity, data, stop;
    bool inX, outX, dsrFlow, ctsFlow;
    std::uint8_t dtr, rts;
};

void PrintTo(const TModeRow& row, std::ostream* out) { *out << '"' << row.mode << '"'; }

constexpr std::uint8_t N = NOPARITY, O = ODDPARITY, E = EVENPARITY, M = MARKPARITY, S = SPACEPARITY;
constexpr std::uint8_t S1 = ONESTOPBIT, S15 = ONE5STOPBITS, S2 = TWOSTOPBITS;
constexpr std::uint8_t OFF = 0, ON = 1, HS = 2, TG = 3;

const TModeRow kModeRows[] = {
    // The new form: only what is named, stop bits 1 unless named (2 at 110 baud).
    {"baud=9600 parity=n data=8 stop=1",            9600,   N, 8, S1,  false, false, false, false, OFF, OFF},
    {"baud=4800 parity=e data=7 stop=2",            4800,   E, 7, S2,  false, false, false, false, OFF, OFF},
    {"COM2: baud=4800 parity=e data=7 stop=2",      4800,   E, 7, S2,  false, false, false, false, OFF, OFF},
    {"  BAUD=2400\tParity=O Data=5 STOP=1.5 XON=On DTR=HS RTS=Tg IDSR=ON to=OFF ",
                                                    2400,   O, 5, S15, true,  true,  false, false, HS,  TG},
    {"parity=M",                                    0,      M, 0, S1,  false, false, false, false, OFF, OFF},
    {"xon=on odsr=on octs=on dtr=on rts=hs idsr=on", 0,     N, 0, S1,  true,  true,  true,  true,  ON,  HS},
    {"xon=off odsr=off octs=off dtr=off rts=on",    0,      N, 0, S1,  false, false, false, false, OFF, ON},
    {"baud=110",                                    110,    N, 0, S2,  false, false, false, false, OFF, OFF},
    {"baud=11 data=7",                              110,    N, 7, S2,  false, false, false, false, OFF, OFF},
    {"stop=1 baud=110",                             110,    N, 0, S1,  false, false, false, false, OFF, OFF},
    {"data=8 stop=1.5",                             0,      N, 8, S15, false, false, false, false, OFF, OFF},
    {"baud=1200 baud=2400",                         2400,   N, 0, S1,  false, false, false, false, OFF, OFF},
    // The old form: the last field sets the flow control, DTR and RTS.
    {"9600,n,8,1",                                  9600,   N, 8, S1,  false, false, false, false, ON,  ON},
    {"4800,e,7,2",                                  4800,   E, 7, S2,  false, false, false, false, ON,  ON},
    {"48,E,7,2",                                    4800,   E, 7, S2,  false, false, false, false, ON,  ON},
    {"1200 , s , 8 , 1",                            1200,   S, 8, S1,  false, false, false, false, ON,  ON},
    {"com1:19,o,7,2,X",                             19200,  O, 7, S2,  true,  true,  false, false, ON,  ON},
    {"38400, e, 8, 1 , p ",                         38400,  E, 8, S1,  false, false, true,  true,  HS,  HS},
};

class ModeStringRows : public ::testing::TestWithParam<TModeRow> {};

TEST_P(ModeStringRows, GivesTheLineOfItsRow)
{
    const TModeRow& row = GetParam();
    DCB d;
    ASSERT_TRUE(BuildCommDCB(row.mode, d));
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_TRUE(d.fBinary);
    EXPECT_EQ(std::make_tuple(d.BaudRate, d.Parity, d.ByteSize, d.StopBits),
              std::make_tuple(row.baud, row.parity, row.data, row.stop));
    EXPECT_EQ(std::make_tuple(d.fInX, d.fOutX, d.fOutxDsrFlow, d.fOutxCtsFlow, d.fDtrControl, d.fRtsControl),
              std::make_tuple(row.inX, row.outX, row.dsrFlow, row.ctsFlow, row.dtr, row.rts));
}

INSTANTIATE_TEST_SUITE_P(Table, ModeStringRows, ::testing::ValuesIn(kModeRows));

// Rows of mode strings that are refused; the DCB keeps every field.
const char* const kRefusedModes[] = {
    "", "   ", "COM1", "COM1:", "COM0: baud=9600", "COM1baud=9600",
    "baud=9600 parity=n data=8 stop=1 junk", "speed=9600", "baud = 9600", "baud=",
    "baud=96o0", "baud=-9600", "baud=+9600", "baud=0", "baud=99999999999",
    "parity=x", "parity=none", "parity=", "data=4", "data=9", "data=8bits",
    "stop=0", "stop=3", "stop=1.50", "stop=one", "to=maybe", "xon=yes", "odsr=1",
    "octs=", "dtr=tg", "rts=hs2", "idsr=onn",
    "baud=9600,parity=n", "9600,n,8", "9600,n,8,1,", "9600,n,8,1,r", "9600,n,8,1,xp", "9600,n,8,1,x,p",
    "9600,n,8,1 xon=on", "96 00,n,8,1", "9600,,8,1", "9600,n,9,1", "0,n,8,1", "9600,n,8,1.5x",
};

class RefusedModeStrings : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedModeStrings, LeaveTheDcbUntouched)
{
    DCB d = Sentinel();
    EXPECT_FALSE(BuildCommDCB(GetParam(), d));
    EXPECT_EQ(Fields(d), Fields(Sentinel()));
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedModeStrings, ::testing::ValuesIn(kRefusedModes));

TEST(ModeString, NullIsRefused)
{
    DCB d = Sentinel();
    EXPECT_FALSE(BuildCommDCB(nullptr, d));
    EXPECT_EQ(Fields(d), Fields(Sentinel()));
}

TEST(ModeString, FormatReadsBackToTheSameSettings)
{
    DCB zeroed;
    ASSERT_TRUE(BuildCommDCB("baud=9600 parity=n data=8 stop=1", zeroed));
    EXPECT_EQ(FormatModeString(zeroed), "baud=9600 parity=n data=8 stop=1 xon=off odsr=off octs=off dtr=off rts=off idsr=off");

    for (const char* mode : {"baud=115200 parity=s data=5 stop=1.5 xon=on idsr=on dtr=hs rts=tg",
                             "baud=4800 parity=e data=7 stop=2 odsr=on octs=on dtr=on rts=hs",
                             "300,m,6,1,x"}) {
        DCB original;
        ASSERT_TRUE(BuildCommDCB(mode, original)) << mode;
        const std::string text = FormatModeString(original);
        DCB again = Sentinel();
        ASSERT_TRUE(BuildCommDCB(text.c_str(), again)) << text;
        EXPECT_EQ(Fields(again), Fields(original)) << mode << " -> " << text;
    }
}

TEST(ModeString, FormatRefusesWhatTheGrammarCannotSay)
{
    DCB good;
    ASSERT_TRUE(BuildCommDCB("baud=9600 parity=n data=8 stop=1", good));
    auto formatWith = [&](auto change) { DCB d = good; change(d); return FormatModeString(d); };
    EXPECT_EQ(formatWith([](DCB& d) { d.BaudRate = 96; }), ""); // would read back as 9600
    EXPECT_EQ(formatWith([](DCB& d) { d.BaudRate = 0; }), "");
    EXPECT_EQ(formatWith([](DCB& d) { d.Parity = 5; }), "");
    EXPECT_EQ(formatWith([](DCB& d) { d.ByteSize = 9; }), "");
    EXPECT_EQ(formatWith([](DCB& d) { d.StopBits = 3; }), "");
    EXPECT_EQ(formatWith([](DCB& d) { d.fInX = true; }), ""); // xon/xoff one way only
    EXPECT_EQ(formatWith([](DCB& d) { d.fRtsControl = 4; }), "");
}
