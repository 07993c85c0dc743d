#include "LineSettings.h"

bool LineSettingsPossible(const TLineSettings& line) {
    if (line.dataBits < 5 || line.dataBits > 8) return false;
    if (line.parity > TParity::Space || line.stopBits > TStopBits::Two) return false;
    if (line.stopBits == TStopBits::OneAndHalf && line.dataBits != 5) return false;
    if (line.stopBits == TStopBits::Two && line.dataBits == 5) return false;
    return line.dtr <= TDtrMode::Handshake && line.rts <= TRtsMode::Toggle;
}
