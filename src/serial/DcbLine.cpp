#include "DcbLine.h"

TLineSettings ToLineSettings(const DCB& dcb) {
    TLineSettings line;
    line.rate = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    // The codes are the same numbers on both sides.
    line.parity = static_cast<TParity>(dcb.Parity);
    line.stopBits = static_cast<TStopBits>(dcb.StopBits);
    line.parityCheck = dcb.fParity;
    line.ctsOutFlow = dcb.fOutxCtsFlow;
    line.dsrOutFlow = dcb.fOutxDsrFlow;
    line.dtr = static_cast<TDtrMode>(dcb.fDtrControl);
    line.rts = static_cast<TRtsMode>(dcb.fRtsControl);
    line.dsrSensitive = dcb.fDsrSensitivity;
    line.xonOut = dcb.fOutX;
    line.xonIn = dcb.fInX;
    line.xonChar = dcb.XonChar;
    line.xoffChar = dcb.XoffChar;
    return line;
}

DCB ToDcb(const TLineSettings& line) {
    DCB dcb{};
    dcb.DCBlength = 28;
    dcb.fBinary = true;
    dcb.BaudRate = line.rate;
    dcb.ByteSize = line.dataBits;
    dcb.Parity = static_cast<std::uint8_t>(line.parity);
    dcb.StopBits = static_cast<std::uint8_t>(line.stopBits);
    dcb.fParity = line.parityCheck;
    dcb.fOutxCtsFlow = line.ctsOutFlow;
    dcb.fOutxDsrFlow = line.dsrOutFlow;
    dcb.fDtrControl = static_cast<std::uint8_t>(line.dtr);
    dcb.fRtsControl = static_cast<std::uint8_t>(line.rts);
    dcb.fDsrSensitivity = line.dsrSensitive;
    dcb.fOutX = line.xonOut;
    dcb.fInX = line.xonIn;
    dcb.XonChar = line.xonChar;
    dcb.XoffChar = line.xoffChar;
    return dcb;
}
