#include <gtest/gtest.h>

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

TEST(ModeString, DefaultStringOnZeroedDcb)
{
    DCB d; // as the port prepares it: zero-filled
    ASSERT_TRUE(BuildCommDCB("baud=9600 parity=n data=8 stop=1", d));
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_TRUE(d.fBinary);
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_FALSE(d.fOutX || d.fInX || d.fOutxCtsFlow || d.fOutxDsrFlow);
}

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
    ASSERT_TRUE(BuildCommDCB("baud=110", d));
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
    d = Sentinel();
    ASSERT_TRUE(BuildCommDCB("baud=11 data=7", d)); // shorthand for 110
    EXPECT_EQ(d.BaudRate, 110u);
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
    d = Sentinel();
    ASSERT_TRUE(BuildCommDCB("stop=1 baud=110", d));
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    d.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(BuildCommDCB("data=8", d)); // 110 already there, not asked for
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    d = Sentinel();
    ASSERT_TRUE(BuildCommDCB("data=8 stop=1.5", d)); // the driver judges the pair
    EXPECT_EQ(d.StopBits, ONE5STOPBITS);
    EXPECT_EQ(d.BaudRate, 1234u);
    // The last of a repeated key counts.
    ASSERT_TRUE(BuildCommDCB("baud=1200 baud=2400", d));
    EXPECT_EQ(d.BaudRate, 2400u);
}

TEST(ModeString, EvenSevenTwoAt4800InBothForms)
{
    for (const char* mode : {"baud=4800 parity=e data=7 stop=2", "4800,e,7,2", "48,E,7,2", "COM2: baud=4800 parity=e data=7 stop=2"}) {
        DCB d;
        ASSERT_TRUE(BuildCommDCB(mode, d)) << mode;
        EXPECT_EQ(d.BaudRate, 4800u) << mode;
        EXPECT_EQ(d.Parity, EVENPARITY) << mode;
        EXPECT_EQ(d.ByteSize, 7) << mode;
        EXPECT_EQ(d.StopBits, TWOSTOPBITS) << mode;
    }
}

TEST(ModeString, KeysAndValuesIgnoreCaseIncludingMarkAndSpace)
{
    DCB d;
    ASSERT_TRUE(BuildCommDCB("  BAUD=2400\tParity=O Data=5 STOP=1.5 XON=On DTR=HS RTS=Tg IDSR=ON to=OFF ", d));
    EXPECT_EQ(d.BaudRate, 2400u);
    EXPECT_EQ(d.Parity, ODDPARITY);
    EXPECT_EQ(d.ByteSize, 5);
    EXPECT_EQ(d.StopBits, ONE5STOPBITS);
    EXPECT_TRUE(d.fOutX && d.fInX && d.fDsrSensitivity);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_TOGGLE);
    ASSERT_TRUE(BuildCommDCB("parity=M", d));
    EXPECT_EQ(d.Parity, MARKPARITY);
    ASSERT_TRUE(BuildCommDCB("1200 , s , 8 , 1", d));
    EXPECT_EQ(d.Parity, SPACEPARITY);
}

TEST(ModeString, FlowKeysSetTheirFields)
{
    DCB d;
    ASSERT_TRUE(BuildCommDCB("xon=on odsr=on octs=on dtr=on rts=hs idsr=on", d));
    EXPECT_TRUE(d.fInX && d.fOutX && d.fOutxDsrFlow && d.fOutxCtsFlow && d.fDsrSensitivity);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_HANDSHAKE);
    ASSERT_TRUE(BuildCommDCB("xon=off odsr=off octs=off dtr=off rts=on idsr=off", d));
    EXPECT_FALSE(d.fInX || d.fOutX || d.fOutxDsrFlow || d.fOutxCtsFlow || d.fDsrSensitivity);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_ENABLE);
    ASSERT_TRUE(BuildCommDCB("rts=off", d));
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_DISABLE);
}

TEST(ModeString, OldFormSetsFlowControlFromLastField)
{
    DCB d = Sentinel();
    ASSERT_TRUE(BuildCommDCB("9600,n,8,1", d));
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_FALSE(d.fInX || d.fOutX || d.fOutxDsrFlow || d.fOutxCtsFlow);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_ENABLE);

    d = Sentinel();
    ASSERT_TRUE(BuildCommDCB("com1:19,o,7,2,X", d));
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_TRUE(d.fInX && d.fOutX);
    EXPECT_FALSE(d.fOutxDsrFlow || d.fOutxCtsFlow);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_ENABLE);

    d = DCB();
    ASSERT_TRUE(BuildCommDCB("38400, e, 8, 1 , p ", d));
    EXPECT_EQ(d.BaudRate, 38400u);
    EXPECT_FALSE(d.fInX || d.fOutX);
    EXPECT_TRUE(d.fOutxDsrFlow && d.fOutxCtsFlow);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_HANDSHAKE);
}

TEST(ModeString, RefusalsLeaveDcbUntouched)
{
    const char* const refused[] = {
        "", "   ", "COM1", "COM1:", "COM0: baud=9600", "COM1baud=9600",
        "baud=9600 parity=n data=8 stop=1 junk", "speed=9600", "baud = 9600", "baud=",
        "baud=96o0", "baud=-9600", "baud=+9600", "baud=0", "baud=99999999999",
        "parity=x", "parity=none", "parity=", "data=4", "data=9", "data=8bits",
        "stop=0", "stop=3", "stop=1.50", "stop=one", "to=maybe", "xon=yes", "odsr=1",
        "octs=", "dtr=tg", "rts=hs2", "idsr=onn",
        "baud=9600,parity=n", "9600,n,8", "9600,n,8,1,", "9600,n,8,1,r", "9600,n,8,1,xp", "9600,n,8,1,x,p",
        "9600,n,8,1 xon=on", "96 00,n,8,1", "9600,,8,1", "9600,n,9,1", "0,n,8,1", "9600,n,8,1.5x",
    };
    for (const char* mode : refused) {
        DCB d = Sentinel();
        EXPECT_FALSE(BuildCommDCB(mode, d)) << '"' << mode << '"';
        EXPECT_EQ(Fields(d), Fields(Sentinel())) << '"' << mode << '"';
    }
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
