#include "PortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Trailing decimal number of a name, -1 when it has none.
long TrailingNumber(const std::string& name, std::size_t& stemLength) {
    std::size_t i = name.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1]))) --i;
    stemLength = i;
    if (i == name.size() || name.size() - i > 9) return -1;
    return std::stol(name.substr(i));
}

// Name of the driver bound to the tty's device, empty when none is.
std::string DriverName(const fs::path& tty) {
    std::error_code ec;
    fs::path driver = fs::canonical(tty / "device" / "driver", ec);
    return ec ? std::string() : driver.filename().string();
}

bool IsWanted(const fs::path& tty, const std::string& name) {
    std::error_code ec;
    if (!fs::exists(tty / "device", ec)) return false;
    if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")) return true;
    if (StartsWith(name, "ttyS")) {
        std::size_t stem = 0;
        long number = TrailingNumber(name, stem);
        if (stem != 4 || number < 0 || number <= 3) return false;
        // The legacy platform driver registers every possible ttyS, with or
        // without a chip behind it; PCI and PnP ports have their own driver.
        std::string driver = DriverName(tty);
        return !driver.empty() && driver != "serial8250";
    }
    return false;
}

}  // namespace

bool CPortList::NaturalLess(const std::string& a, const std::string& b) {
    std::size_t stemA = 0, stemB = 0;
    long na = TrailingNumber(a, stemA), nb = TrailingNumber(b, stemB);
    int byStem = a.compare(0, stemA, b, 0, stemB);
    if (byStem != 0) return byStem < 0;
    if (na != nb) return na < nb;
    return a < b;
}

std::vector<std::string> CPortList::FindSerialDevices(const std::string& sysClassTty) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsWanted(it->path(), name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    std::vector<std::string> paths;
    for (const auto& name : names) paths.push_back("/dev/" + name);
    return paths;
}
