// Parses a Windows mode string into a DCB, with the same grammar and the same
// refusals: "baud=9600 parity=n data=8 stop=1 [to=on] [xon=on] [odsr=on]
// [octs=on] [dtr=on|off|hs] [rts=on|off|hs|tg] [idsr=on]" and the old form
// "9600,n,8,1[,x|p]". Fields not named in the string keep their value in dcb.
#pragma once

#include "Dcb.h"

// False when the text is refused; dcb is then unchanged.
bool BuildCommDCB(const char* mode, DCB& dcb);
