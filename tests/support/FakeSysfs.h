// A fake machine for the port list: sysfs tty folders with their devices and
// drivers, USB attributes up the chain, /dev nodes and /dev/serial/by-id
// links, all under one root (the layout TARVEL_SYSFS_ROOT names).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

class CFakeSysfs {
public:
    explicit CFakeSysfs(std::string root) : m_root(std::move(root)) {
        std::filesystem::create_directories(ClassTty());
        std::filesystem::create_directories(m_root + "/dev");
    }
    const std::string& Root() const { return m_root; }
    std::string ClassTty() const { return m_root + "/sys/class/tty"; }
    std::string ById() const { return m_root + "/dev/serial/by-id"; }

    // A tty whose device has driver bound (none when driver is empty).
    void AddTty(const std::string& tty, const std::string& driver, const std::string& deviceDir = "") {
        namespace fs = std::filesystem;
        const fs::path device = deviceDir.empty() ? fs::path(m_root + "/sys/devices/platform/" + tty) : fs::path(deviceDir);
        fs::create_directories(device);
        if (!driver.empty()) {
            const fs::path drivers = m_root + "/sys/bus/drivers/" + driver;
            fs::create_directories(drivers);
            fs::create_directory_symlink(drivers, device / "driver");
        }
        fs::create_directories(ClassTty() + "/" + tty);
        fs::create_directory_symlink(device, ClassTty() + "/" + tty + "/device");
    }
    // A USB adapter: the tty's device sits in an interface of a USB device
    // that carries the maker's texts; empty texts are left out.
    void AddUsb(const std::string& tty, const std::string& driver, const std::string& manufacturer,
                const std::string& product, const std::string& serial) {
        const std::string usb = m_root + "/sys/devices/usb1/1-" + std::to_string(++m_usbCount);
        std::filesystem::create_directories(usb);
        Write(usb + "/idVendor", "0403\n");
        if (!manufacturer.empty()) Write(usb + "/manufacturer", manufacturer + "\n");
        if (!product.empty()) Write(usb + "/product", product + "\n");
        if (!serial.empty()) Write(usb + "/serial", serial + "\n");
        AddTty(tty, driver, usb + "/1-" + std::to_string(m_usbCount) + ":1.0/" + tty);
    }
    // The port type the kernel gives a ttyS (0: no UART).
    void SetType(const std::string& tty, int type) { Write(ClassTty() + "/" + tty + "/type", std::to_string(type) + "\n"); }
    // A /dev node: a plain file, or a link to target.
    void AddNode(const std::string& name, const std::string& target = "") {
        const std::string path = m_root + "/dev/" + name;
        std::filesystem::remove(path);
        if (target.empty())
            Write(path, "");
        else
            std::filesystem::create_symlink(target, path);
    }
    // A stable link as udev makes it: relative, to the tty's node.
    void AddById(const std::string& link, const std::string& tty) {
        std::filesystem::create_directories(ById());
        std::filesystem::remove(ById() + "/" + link);
        std::filesystem::create_symlink("../../" + tty, ById() + "/" + link);
    }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

private:
    std::string m_root;
    int m_usbCount = 0;
};

// The port list comes from root for the lifetime of the object.
class CSysfsRootOverride {
public:
    explicit CSysfsRootOverride(const std::string& root) {
        if (const char* old = ::getenv("TARVEL_SYSFS_ROOT")) {
            m_had = true;
            m_old = old;
        }
        ::setenv("TARVEL_SYSFS_ROOT", root.c_str(), 1);
    }
    ~CSysfsRootOverride() {
        if (m_had)
            ::setenv("TARVEL_SYSFS_ROOT", m_old.c_str(), 1);
        else
            ::unsetenv("TARVEL_SYSFS_ROOT");
    }
    CSysfsRootOverride(const CSysfsRootOverride&) = delete;
    CSysfsRootOverride& operator=(const CSysfsRootOverride&) = delete;

private:
    bool m_had = false;
    std::string m_old;
};
