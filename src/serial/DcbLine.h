// The port's DCB and the device seam's line settings, converted at the
// seam's edge. Each DCB field a device uses crosses; of the rest, DCBlength
// and fBinary come back as the Windows serial API always has them (28, on),
// the others off.
#pragma once

#include "Dcb.h"
#include "LineSettings.h"

TLineSettings ToLineSettings(const DCB& dcb);
DCB ToDcb(const TLineSettings& line);
