#include "PortCatalogue.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <utility>

#include "NetDevice.h"
#include "PortList.h"
#include "Resource.h"
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
    std::string hint = "No such device. Is the clock's cable or USB adapter plugged in?\n";
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

// What to do about a network port that could not be reached.
std::string NetworkHint(int code, const std::string& name) {
    TNetPortName net;
    if (!ParseNetworkPortName(name, net)) return GetString(IDS_NET_HINT_BAD_NAME);
    const char* host = net.host.c_str();
    const char* port = net.port.c_str();
    switch (code) {
    case ECONNREFUSED:
        return FormatString(GetString(IDS_NET_HINT_REFUSED).c_str(), port, host);
    case ENXIO:
        return FormatString(GetString(IDS_NET_HINT_UNKNOWN_HOST).c_str(), host);
    case EAGAIN:
        return FormatString(GetString(IDS_NET_HINT_NO_NAME_SERVER).c_str(), host);
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
        return FormatString(GetString(IDS_NET_HINT_UNREACHABLE).c_str(), host, port);
    case ECONNRESET:
    case EPIPE:
        return FormatString(GetString(IDS_NET_HINT_CLOSED).c_str(), host, port);
    case EPROTO:
        return FormatString(GetString(IDS_NET_HINT_NOT_RFC2217).c_str(), port, host);
    case EBUSY:
        return GetString(IDS_NET_HINT_BUSY);
    case EINVAL:
        return GetString(IDS_NET_HINT_BAD_NAME);
    default:
        return std::string();
    }
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
    } else if (IsNetworkPortName(name)) {
        // A terminal server's port: always a network device, whatever the factory makes.
        target.portName = name;
        target.path = name;
        target.device = MakeNetworkDevice(name);
    } else {
        target.portName = name;
        target.path = DevicePath(name);
        if (factory) target.device = factory();
    }
    return target;
}

std::string CPortCatalogue::OpenHint(int code, const std::string& path) {
    if (IsNetworkPortName(path)) return NetworkHint(code, path);
    switch (code) {
    case EACCES:
    case EPERM:
        return AccessHint(path);
    case EBUSY:
    case EWOULDBLOCK:
        return "The port is in use by another program.";
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
