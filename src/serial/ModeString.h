// Parses a Windows mode string into a DCB, with the same grammar and the same
// refusals as BuildCommDCB, so "Mode" values written for the Windows program
// keep working. Two forms, never mixed, after an optional "COMn" or "COMn:":
//
//   new: blank-separated key=value pairs, keys and values in any case:
//        baud=b parity={n|e|o|m|s} data={5..8} stop={1|1.5|2} to={on|off}
//        xon={on|off} odsr={on|off} octs={on|off} dtr={on|off|hs}
//        rts={on|off|hs|tg} idsr={on|off}
//   old: b,p,d,s[,x|,p]   for example "9600,n,8,1" or "96,e,7,2,x";
//        blanks may surround the commas.
//
// b is a decimal rate; the mode command's abbreviations 11 15 30 60 12 24 48
// 96 19 stand for 110 150 300 600 1200 2400 4800 9600 19200.
//
// New form: only the named fields change, except that stop bits not named
// become 1 (2 when the string asks for 110 baud), as the mode command does.
// Old form: the four line settings, and the flow-control fields from the last
// field: none (xon/xoff and hardware flow off, DTR and RTS on), x (xon/xoff)
// or p (DSR/CTS output flow, DTR and RTS handshake).
// Either way a success also sets DCBlength to 28 and fBinary.
#pragma once

#include <string>

#include "Dcb.h"

// False when the text is refused (also for nullptr); dcb is then unchanged.
bool BuildCommDCB(const char* mode, DCB& dcb);

// The new form of dcb's line settings and flow-control fields, which
// BuildCommDCB turns back into the same values; empty when dcb holds
// something the grammar cannot say (a code out of range, data bits outside
// 5..8, a zero rate or one that would read back as an abbreviation, xon/xoff
// on in one direction only).
std::string FormatModeString(const DCB& dcb);
