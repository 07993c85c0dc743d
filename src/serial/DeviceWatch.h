// Tells when the open port's device is removed, as udev announces it, so an
// unplugged adapter is noticed before the next command fails on it. The
// owner polls Fd() (a QSocketNotifier in the window) and calls TakeRemoval
// when it is readable. Where udev does not run, Fd() is -1 and nothing is
// ever told; the window then learns of a loss by looking at the open device
// itself (CCommPort::IsHungUp), a little later.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

class CDeviceWatch {
public:
    // What one udev event says about a device.
    struct TEvent {
        std::string action;    // "add", "remove", "change", ...
        std::string devNode;   // "/dev/ttyUSB0"
        std::string devLinks;  // udev's DEVLINKS: names separated by spaces
        dev_t devNum = 0;      // 0: none
    };
    // The device watched: the name the port opened and, while it exists,
    // the node it stands for and its device number.
    struct TWatched {
        std::string name;      // "/dev/serial/by-id/usb-FTDI_...", "/dev/ttyUSB0"
        std::string devNode;   // the node name points at; empty if unknown
        dev_t devNum = 0;
        bool Empty() const { return name.empty() && devNode.empty() && devNum == 0; }
    };

    CDeviceWatch();
    ~CDeviceWatch();
    CDeviceWatch(const CDeviceWatch&) = delete;
    CDeviceWatch& operator=(const CDeviceWatch&) = delete;

    // The descriptor to poll for reading; -1 without udev.
    int Fd() const;
    // Watches the device behind path (a device path or a link to one);
    // empty, or a name that is no device file (a network port): none.
    void Watch(const std::string& path);
    const TWatched& Watched() const { return m_watched; }
    // Reads the events waiting; true when one removed the watched device,
    // which is then no longer watched.
    bool TakeRemoval();

    // Whether event removes the device watched.
    static bool IsRemovalOf(const TWatched& watched, const TEvent& event);
    // What path stands for now: its node and device number.
    static TWatched Describe(const std::string& path);

private:
    struct TUdev;
    std::unique_ptr<TUdev> m_udev;
    TWatched m_watched;
};
