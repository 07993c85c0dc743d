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
    // One port of the list.
    struct TEntry {
        std::string name;         // "COM1", "/dev/ttyUSB0", "SIM"
        std::string stableName;   // "/dev/serial/by-id/...", or empty
        std::string description;  // never empty; a COM port's starts with its device
        bool present = true;
        bool isVirtual = false;
        // What the list shows: "/dev/ttyUSB0 (FT232R USB UART, serial
        // A1B2C3)", "COM3 (absent)", "SIM (simulated clock)".
        std::string Listed() const;
        // What is opened and stored: the stable name when there is one, so
        // the same adapter is found in another socket.
        const std::string& OpenName() const { return stableName.empty() ? name : stableName; }
    };
    // COM1..COM4 (always, present or not), then the serial devices found on
    // this machine, then the virtual ports.
    static std::vector<TEntry> ListEntries();
    // The listed texts of ListEntries.
    static std::vector<std::string> ListPorts();

    // What a port text stands for: the OpenName of the entry whose listed
    // text it is (also of one listed earlier and gone since), else the text
    // as it is.
    static std::string OpenName(const std::string& text);
    // The device a stable name points at now, or empty.
    static std::string StableTarget(const std::string& name);

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
