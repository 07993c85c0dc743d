// The line settings as they cross the device seam, in the project's own
// words. Above the seam the port keeps the DCB of the Windows serial API
// (Dcb.h: the mode strings, CCommPort's methods, the profile) and converts
// at the edge (DcbLine.h). The Win32 device turns these into the system's
// DCB itself, so nothing here may bear a name the Windows headers define.
//
// A code beyond an enum's last (a DCB may hold any byte) is kept as it is,
// for the device to refuse.
#pragma once

#include <cstdint>

enum class TParity : std::uint8_t { None, Odd, Even, Mark, Space };
enum class TStopBits : std::uint8_t { One, OneAndHalf, Two };
// What the device does with its DTR and RTS lines.
enum class TDtrMode : std::uint8_t { Off, On, Handshake };
enum class TRtsMode : std::uint8_t { Off, On, Handshake, Toggle };

struct TLineSettings {
    std::uint32_t rate = 0;  // baud
    std::uint8_t dataBits = 8;
    TParity parity = TParity::None;
    TStopBits stopBits = TStopBits::One;
    bool parityCheck = false;   // received parity is checked
    bool ctsOutFlow = false;    // output waits while CTS is off
    bool dsrOutFlow = false;    // output waits while DSR is off
    TDtrMode dtr = TDtrMode::Off;
    TRtsMode rts = TRtsMode::Off;
    bool dsrSensitive = false;  // input is dropped while DSR is off
    bool xonOut = false;        // output stops at XOFF, goes on at XON
    bool xonIn = false;         // XOFF is sent when input piles up, XON when it has gone
    char xonChar = 0x11;
    char xoffChar = 0x13;

    bool operator==(const TLineSettings&) const = default;
};

// Whether a line can be so, whatever its rate: data bits 5 to 8, codes in
// range, one and a half stop bits only with 5 data bits and two only with
// more. A device refuses (EINVAL) what fails this and the rates it lacks.
bool LineSettingsPossible(const TLineSettings& line);
