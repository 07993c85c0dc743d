#include "PortCatalogue.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <utility>

#include "PortHolder.h"
#include "PortList.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

struct TVirtualPort {
    std::string name;
    std::string description;
    SerialDeviceFactory factory;
    std::string Listed() const { return name + " (" + description + ")"; }
};

// The process-wide registry of virtual ports.
std::mutex g_virtualMutex;
std::vector<TVirtualPort> g_virtualPorts;  // under g_virtualMutex

// The entry text stands for: its name in any case, or its listed text.
bool FindVirtualPort(const std::string& text, TVirtualPort& found) {
    const std::string wanted(Trim(text));
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    for (const auto& port : g_virtualPorts) {
        if (EqualNoCase(wanted, port.name) || EqualNoCase(wanted, port.Listed())) {
            found = port;
            return true;
        }
    }
    return false;
}

std::vector<std::string> VirtualPortTexts() {
    std::vector<std::string> texts;
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    for (const auto& port : g_virtualPorts) texts.push_back(port.Listed());
    return texts;
}

// What to do about a device the user may not open: join the group that owns
// it, when that group may read and write it.
std::string AccessHint(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_gid != 0 && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP)) {
        group grp{};
        group* found = nullptr;
        std::vector<char> buf(4096);
        if (::getgrgid_r(st.st_gid, &grp, buf.data(), buf.size(), &found) == 0 && found && found->gr_name) {
            std::string name = found->gr_name;
            return "Add yourself to the group \"" + name + "\" (sudo usermod -aG " + name +
                   " $USER), then log out and in again.";
        }
    }
    return "Ask your administrator for read and write access to " + path + ".";
}

// What to do about a device that is not there: plug it in, or pick one that is.
std::string MissingHint(const std::string& path) {
    // Told where it can be: a device taken away is not a cable to check.
    const std::string vanished = CPortHolder::VanishedHint(path);
    std::string hint = vanished.empty() ? "No such device. Is the clock's cable or USB adapter plugged in?\n" : vanished + "\n";
    std::vector<std::string> present = CPortList::FindSerialDevices();
    present.erase(std::remove(present.begin(), present.end(), path), present.end());
    if (present.empty()) {
        hint += "No serial ports were found.";
        std::lock_guard<std::mutex> lock(g_virtualMutex);
        if (!g_virtualPorts.empty()) hint += " The port " + g_virtualPorts.front().Listed() + " works without a clock.";
        return hint;
    }
    hint += "Serial ports found:";
    for (std::size_t i = 0; i < present.size(); ++i) hint += (i ? ", " : " ") + present[i];
    return hint + ".";
}

}  // namespace

std::vector<std::string> CPortCatalogue::ListPorts() {
    std::vector<std::string> ports;
    for (int n = 1; n <= 4; ++n) ports.push_back(FormatString("COM%d", n));
    for (const auto& path : CPortList::FindSerialDevices()) ports.push_back(path);
    for (const auto& text : VirtualPortTexts()) ports.push_back(text);
    return ports;
}

std::string CPortCatalogue::DevicePath(const std::string& name) {
    if (name.size() == 4 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
        (name[2] == 'M' || name[2] == 'm') && name[3] >= '1' && name[3] <= '4')
        return "/dev/ttyS" + std::string(1, static_cast<char>(name[3] - 1));
    return name;
}

CPortCatalogue::TTarget CPortCatalogue::Resolve(const std::string& name, const SerialDeviceFactory& factory) {
    TTarget target;
    TVirtualPort virtualPort;
    if (FindVirtualPort(name, virtualPort)) {
        // A virtual port is known by its name, which its device gets as the path.
        target.portName = virtualPort.name;
        target.path = virtualPort.name;
        target.device = virtualPort.factory();
        target.isVirtual = true;
    } else {
        target.portName = name;
        target.path = DevicePath(name);
        if (factory) target.device = factory();
    }
    return target;
}

std::string CPortCatalogue::OpenHint(int code, const std::string& path) {
    switch (code) {
    case EACCES:
    case EPERM:
        return AccessHint(path);
    case EBUSY:
    case EWOULDBLOCK:
        return CPortHolder::BusyHint(path);
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:  // a ttyS without a chip behind it
        return MissingHint(path);
    default:
        return std::string();
    }
}

void CPortCatalogue::RegisterVirtualPort(const std::string& name, const std::string& description,
                                         SerialDeviceFactory factory) {
    if (name.empty() || !factory) return;
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    for (auto& port : g_virtualPorts) {
        if (EqualNoCase(port.name, name)) {
            port = TVirtualPort{name, description, std::move(factory)};
            return;
        }
    }
    g_virtualPorts.push_back(TVirtualPort{name, description, std::move(factory)});
}

void CPortCatalogue::UnregisterVirtualPort(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    g_virtualPorts.erase(std::remove_if(g_virtualPorts.begin(), g_virtualPorts.end(),
                                        [&](const TVirtualPort& port) { return EqualNoCase(port.name, name); }),
                         g_virtualPorts.end());
}

std::string CPortCatalogue::VirtualPortName(const std::string& text) {
    TVirtualPort port;
    return FindVirtualPort(text, port) ? port.name : std::string();
}
