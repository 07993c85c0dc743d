// The udev source: which tty devices there are, their driver and udev's
// properties. What an entry says is decided in CPortEnum::FromUdevProperties.
#include <libudev.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "PortEnum.h"

namespace {

struct TUdevFree {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

int ParseType(const char* text) {
    const std::string s = Text(text);
    if (s.empty() || s.size() > 6) return -1;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    return std::stoi(s);
}

}  // namespace

bool EnumerateWithUdev(std::vector<TPortInfo>& found) {
    // Without udevd's database the devices have no properties and no links:
    // sysfs tells as much and more.
    std::error_code ec;
    if (!std::filesystem::is_directory("/run/udev/data", ec)) return false;
    std::unique_ptr<udev, TUdevFree> context(udev_new());
    if (!context) return false;
    std::unique_ptr<udev_enumerate, TUdevFree> scan(udev_enumerate_new(context.get()));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0)
        return false;

    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        std::unique_ptr<udev_device, TUdevFree> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device) continue;
        const std::string name = Text(udev_device_get_sysname(device.get()));
        if (name.empty()) continue;
        // The parent belongs to the device; it is not freed on its own.
        udev_device* parent = udev_device_get_parent(device.get());
        const std::string driver = parent ? Text(udev_device_get_driver(parent)) : std::string();
        const int uartType = ParseType(udev_device_get_sysattr_value(device.get(), "type"));
        if (!CPortEnum::IsSerialPort(name, driver, uartType)) continue;

        CPortEnum::TProperties props;
        udev_list_entry* prop = nullptr;
        udev_list_entry_foreach(prop, udev_device_get_properties_list_entry(device.get())) {
            const char* key = udev_list_entry_get_name(prop);
            if (key) props[key] = Text(udev_list_entry_get_value(prop));
        }
        found.push_back(CPortEnum::FromUdevProperties(name, Text(udev_device_get_devnode(device.get())), props,
                                                      driver, uartType));
    }
    return true;
}
