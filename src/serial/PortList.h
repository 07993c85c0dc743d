// Serial devices present on this machine, found through sysfs.
#pragma once

#include <string>
#include <vector>

class CPortList {
public:
    // /dev paths of USB adapters (ttyUSB*, ttyACM*) and of ttyS* ports that
    // have real hardware behind them, in natural order. ttyS0..ttyS3 are left
    // out: COM1..COM4 already stand for them.
    static std::vector<std::string> FindSerialDevices(const std::string& sysClassTty = "/sys/class/tty");
    // "ttyUSB2" before "ttyUSB10".
    static bool NaturalLess(const std::string& a, const std::string& b);
};
