// Which ports there are and what a port name stands for: the port list, the
// device path of a name, the virtual ports, and the line that tells the user
// what to do when a device cannot be opened.
//
// Names: "COM1".."COM4" (any case) stand for /dev/ttyS0../dev/ttyS3; a
// registered virtual port (the simulated clock, "SIM") by its name or its
// listed text; every other name is a device path such as "/dev/ttyUSB0".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SerialDevice.h"

class CPortCatalogue {
public:
    // COM1..COM4 (always), then the serial devices found on this machine,
    // then the virtual ports as "NAME (description)".
    static std::vector<std::string> ListPorts();

    // The device path a port name stands for.
    static std::string DevicePath(const std::string& name);

    // What Open opens for a name.
    struct TTarget {
        std::string portName;  // the name the port keeps (a virtual port's own)
        std::string path;      // given to the device's Open
        std::shared_ptr<CSerialDevice> device;  // fresh; null when none could be made
        bool isVirtual = false;
    };
    // A virtual port brings its own device; any other name gets one from factory.
    static TTarget Resolve(const std::string& name, const SerialDeviceFactory& factory);

    // A line the user can act on when opening path failed with errno code
    // (join a group, plug it in, the ports there are, in use); empty when the
    // system text says enough.
    static std::string OpenHint(int code, const std::string& path);

    // The virtual ports are process-wide: registered once by the program (or
    // a test) and offered by every port. Open takes the name in any case or
    // the listed text, keeps NAME as the port name and gives NAME to a fresh
    // device of the factory as its path. Registering a name again replaces
    // the entry.
    static void RegisterVirtualPort(const std::string& name, const std::string& description,
                                    SerialDeviceFactory factory);
    static void UnregisterVirtualPort(const std::string& name);
    // The registered name text stands for, or empty.
    static std::string VirtualPortName(const std::string& text);
};
