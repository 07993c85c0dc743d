// Line settings and time-outs as plain structs, with the field names and
// codes of the Windows serial API the program and its profile were written for.
#pragma once

#include <cstdint>

constexpr std::uint8_t NOPARITY = 0;
constexpr std::uint8_t ODDPARITY = 1;
constexpr std::uint8_t EVENPARITY = 2;
constexpr std::uint8_t MARKPARITY = 3;
constexpr std::uint8_t SPACEPARITY = 4;

constexpr std::uint8_t ONESTOPBIT = 0;
constexpr std::uint8_t ONE5STOPBITS = 1;
constexpr std::uint8_t TWOSTOPBITS = 2;

constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
constexpr std::uint8_t RTS_CONTROL_TOGGLE = 3;

struct DCB {
    std::uint32_t DCBlength = 0;
    std::uint32_t BaudRate = 0;
    bool fBinary = false;
    bool fParity = false;           // parity checking enabled
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = DTR_CONTROL_DISABLE;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    std::uint8_t fRtsControl = RTS_CONTROL_DISABLE;
    bool fAbortOnError = false;
    std::uint8_t ByteSize = 0;      // 5..8
    std::uint8_t Parity = NOPARITY; // NOPARITY .. SPACEPARITY
    std::uint8_t StopBits = ONESTOPBIT;
    char XonChar = 0x11;
    char XoffChar = 0x13;
};

struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;
