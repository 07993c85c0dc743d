#include "DeviceWatch.h"

#include <libudev.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <system_error>

struct CDeviceWatch::TUdev {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    ~TUdev() {
        if (monitor) udev_monitor_unref(monitor);
        if (context) udev_unref(context);
    }
};

namespace {

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

CDeviceWatch::CDeviceWatch() {
    // Without udevd nothing would ever arrive: no monitor at all.
    std::error_code ec;
    if (!std::filesystem::is_directory("/run/udev/data", ec)) return;
    auto udev = std::make_unique<TUdev>();
    udev->context = udev_new();
    if (!udev->context) return;
    udev->monitor = udev_monitor_new_from_netlink(udev->context, "udev");
    if (!udev->monitor || udev_monitor_filter_add_match_subsystem_devtype(udev->monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(udev->monitor) < 0)
        return;
    m_udev = std::move(udev);
}

CDeviceWatch::~CDeviceWatch() = default;

int CDeviceWatch::Fd() const { return m_udev ? udev_monitor_get_fd(m_udev->monitor) : -1; }

CDeviceWatch::TWatched CDeviceWatch::Describe(const std::string& path) {
    TWatched watched;
    if (path.empty()) return watched;
    struct stat st {};
    // A network port or a virtual one has no device file: nothing to watch.
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return watched;
    watched.name = path;
    watched.devNum = st.st_rdev;
    std::error_code ec;
    const std::filesystem::path node = std::filesystem::canonical(path, ec);
    if (!ec) watched.devNode = node.string();
    return watched;
}

void CDeviceWatch::Watch(const std::string& path) { m_watched = Describe(path); }

bool CDeviceWatch::IsRemovalOf(const TWatched& watched, const TEvent& event) {
    if (event.action != "remove" || watched.Empty()) return false;
    if (watched.devNum != 0 && event.devNum != 0) return watched.devNum == event.devNum;
    if (!event.devNode.empty() && (event.devNode == watched.devNode || event.devNode == watched.name)) return true;
    // The stable name the port was opened by is one of the device's links.
    std::istringstream links(event.devLinks);
    for (std::string link; links >> link;)
        if (link == watched.name) return true;
    return false;
}

bool CDeviceWatch::TakeRemoval() {
    if (!m_udev) return false;
    bool removed = false;
    // The descriptor is non-blocking: this ends when no event is left.
    while (udev_device* device = udev_monitor_receive_device(m_udev->monitor)) {
        TEvent event;
        event.action = Text(udev_device_get_action(device));
        event.devNode = Text(udev_device_get_devnode(device));
        event.devLinks = Text(udev_device_get_property_value(device, "DEVLINKS"));
        event.devNum = udev_device_get_devnum(device);
        udev_device_unref(device);
        if (IsRemovalOf(m_watched, event)) removed = true;
    }
    if (removed) m_watched = TWatched{};
    return removed;
}
