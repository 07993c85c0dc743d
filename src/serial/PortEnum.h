// The serial devices of this machine: every tty with a real device behind it,
// with what the user knows it by (a description, a stable name under
// /dev/serial/by-id). libudev first; sysfs and /dev/serial/by-id when udev is
// not there (containers) or has no database.
#pragma once

#include <map>
#include <string>
#include <vector>

struct TPortInfo {
    std::string name;         // the kernel's name: "ttyUSB0"
    std::string devicePath;   // "/dev/ttyUSB0"
    std::string stableName;   // "/dev/serial/by-id/usb-FTDI_...-port0", or empty
    std::string description;  // "FTDI FT232R USB UART, serial A1B2C3"; never empty
    bool present = true;
};

class CPortEnum {
public:
    // Where the sysfs source looks.
    struct TRoots {
        std::string classTty = "/sys/class/tty";
        std::string byId = "/dev/serial/by-id";
        std::string dev = "/dev";
        // A whole fake machine under root: root/sys/class/tty, root/dev,
        // root/dev/serial/by-id.
        static TRoots Under(const std::string& root);
    };

    // The devices found, in natural order of their names. The environment
    // variable TARVEL_SYSFS_ROOT (for tests and screenshots) makes the sysfs
    // source look under that folder instead, and leaves udev out.
    static std::vector<TPortInfo> Enumerate();
    // The roots in use: the override's or the machine's.
    static TRoots ActiveRoots();
    static bool Overridden();

    // The sysfs source on its own.
    static std::vector<TPortInfo> FromSysfs(const TRoots& roots);

    // One udev tty device as an entry. props: its udev properties (ID_MODEL,
    // ID_VENDOR_ENC, ID_SERIAL_SHORT, DEVLINKS...); driver: the driver bound
    // to the device behind it; uartType: the sysfs "type" of a ttyS, or -1.
    using TProperties = std::map<std::string, std::string>;
    static TPortInfo FromUdevProperties(const std::string& sysName, const std::string& devNode,
                                        const TProperties& props, const std::string& driver, int uartType);

    // Whether a tty is a serial port the user can use: a driver is bound to
    // the device behind it (RFCOMM ports have none), and a ttyS of the legacy
    // 8250 driver, which registers ports with or without a chip, has a UART
    // (uartType not 0). uartType -1: not known.
    static bool IsSerialPort(const std::string& name, const std::string& driver, int uartType);
    // The sysfs "type" of a tty: 0 for a ttyS without a UART; -1 when it
    // cannot be read.
    static int UartType(const TRoots& roots, const std::string& name);

    // "ttyUSB2" before "ttyUSB10".
    static bool NaturalLess(const std::string& a, const std::string& b);

    // Device texts are the device's own bytes: only printable ones are kept,
    // blanks are folded, and the length is bounded.
    static std::string CleanText(const std::string& text);
};

// The udev source: false when udev cannot be used here (no library context,
// no database), so the caller falls back to sysfs.
bool EnumerateWithUdev(std::vector<TPortInfo>& found);
