#include "PortEnum.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxText = 80;
constexpr char kRootVariable[] = "TARVEL_SYSFS_ROOT";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && EqualNoCase(std::string_view(s).substr(0, prefix.size()), prefix);
}

// Trailing decimal number of a name, -1 when it has none.
long TrailingNumber(const std::string& name, std::size_t& stemLength) {
    std::size_t i = name.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1]))) --i;
    stemLength = i;
    if (i == name.size() || name.size() - i > 9) return -1;
    return std::stol(name.substr(i));
}

bool IsRfcomm(const std::string& name) {
    std::size_t stem = 0;
    return StartsWith(name, "rfcomm") && TrailingNumber(name, stem) >= 0 && stem == 6;
}

bool IsLegacyComName(const std::string& name) {
    std::size_t stem = 0;
    return StartsWith(name, "ttyS") && TrailingNumber(name, stem) >= 0 && stem == 4;
}

// A kernel name is a plain file name; anything else in a tty folder is not
// one of ours.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':';
    });
}

// The first line of a small attribute file, cleaned; empty when unreadable.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::string();
    std::string text(256, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    return CPortEnum::CleanText(text);
}

// The name of a UART from the kernel's port type numbers.
std::string UartName(int type) {
    switch (type) {
    case 1: return "8250 UART";
    case 2: return "16450 UART";
    case 3: return "16550 UART";
    case 4: return "16550A UART";
    case 6: return "16650 UART";
    case 7: return "16650V2 UART";
    case 8: return "16750 UART";
    case 10: return "16C950 UART";
    default: return std::string();
    }
}

// "FTDI FT232R USB UART": the maker is left out when the model names it.
std::string VendorAndModel(const std::string& vendor, const std::string& model) {
    if (model.empty()) return vendor;
    if (vendor.empty() || StartsWithNoCase(model, vendor)) return model;
    return vendor + " " + model;
}

// What to call a port that tells nothing of itself: its UART, its driver.
std::string Fallback(const std::string& name, const std::string& driver, int uartType) {
    if (IsLegacyComName(name)) {
        const std::string uart = UartName(uartType);
        if (!uart.empty()) return uart;
    }
    if (IsRfcomm(name)) return GetString(IDS_PORT_RFCOMM);
    return driver.empty() ? GetString(IDS_PORT_PLAIN) : driver;
}

std::string WithSerial(std::string text, const std::string& serial) {
    if (serial.empty()) return text;
    return FormatString(GetString(IDS_PORT_WITH_SERIAL).c_str(), text.c_str(), serial.c_str());
}

// The USB device a tty belongs to: the first folder up from its device
// that has a vendor id.
fs::path FindUsbDevice(const fs::path& device) {
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    if (ec) return fs::path();
    for (int up = 0; up < 8 && dir.has_relative_path(); ++up, dir = dir.parent_path())
        if (fs::exists(dir / "idVendor", ec)) return dir;
    return fs::path();
}

// udev writes "\x20" for characters it does not keep as they are.
std::string DecodeUdev(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Property(const CPortEnum::TProperties& props, const char* key) {
    const auto it = props.find(key);
    return it == props.end() ? std::string() : it->second;
}

// The device's own name for itself (the same text sysfs has), else udev's
// database; an id number stands in when a device has no name, and is no name.
std::string UdevName(const CPortEnum::TProperties& props, const char* enc, const char* plain, const char* id,
                     const char* database) {
    std::string text = CPortEnum::CleanText(DecodeUdev(Property(props, enc)));
    if (text.empty()) {
        text = Property(props, plain);
        std::replace(text.begin(), text.end(), '_', ' ');
        text = CPortEnum::CleanText(text);
    }
    if (!text.empty() && EqualNoCase(text, Property(props, id))) text.clear();
    if (text.empty()) text = CPortEnum::CleanText(Property(props, database));
    return text;
}

}  // namespace

CPortEnum::TRoots CPortEnum::TRoots::Under(const std::string& root) {
    TRoots roots;
    roots.classTty = root + "/sys/class/tty";
    roots.byId = root + "/dev/serial/by-id";
    roots.dev = root + "/dev";
    return roots;
}

bool CPortEnum::Overridden() {
    const char* root = std::getenv(kRootVariable);
    return root && *root;
}

CPortEnum::TRoots CPortEnum::ActiveRoots() { return Overridden() ? TRoots::Under(std::getenv(kRootVariable)) : TRoots(); }

std::vector<TPortInfo> CPortEnum::Enumerate() {
    std::vector<TPortInfo> found;
    if (Overridden() || !EnumerateWithUdev(found)) return FromSysfs(ActiveRoots());
    std::sort(found.begin(), found.end(),
              [](const TPortInfo& a, const TPortInfo& b) { return NaturalLess(a.name, b.name); });
    return found;
}

bool CPortEnum::IsSerialPort(const std::string& name, const std::string& driver, int uartType) {
    if (driver.empty()) return IsRfcomm(name);
    if (IsLegacyComName(name) && driver == "serial8250") return uartType != 0 && uartType != -1;
    return true;
}

int CPortEnum::UartType(const TRoots& roots, const std::string& name) {
    const std::string text = ReadAttribute(fs::path(roots.classTty) / name / "type");
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return -1;
    return std::stoi(text);
}

std::vector<TPortInfo> CPortEnum::FromSysfs(const TRoots& roots) {
    // Which tty each stable link stands for; the first link in name order wins.
    std::map<std::string, std::string> stable;
    std::vector<fs::path> links;
    std::error_code ec;
    for (fs::directory_iterator it(roots.byId, ec), end; !ec && it != end; it.increment(ec))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    for (const auto& link : links) {
        const fs::path target = fs::read_symlink(link, ec);
        if (ec || target.filename().empty()) continue;
        stable.emplace(target.filename().string(), (fs::path(roots.byId) / link.filename()).string());
    }

    std::vector<TPortInfo> found;
    ec.clear();
    for (fs::directory_iterator it(roots.classTty, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsPlainName(name)) continue;
        const fs::path device = it->path() / "device";
        std::error_code linkError;
        const fs::path driverLink = fs::read_symlink(device / "driver", linkError);
        std::string driver = linkError ? std::string() : CleanText(driverLink.filename().string());
        // A driver link that leads nowhere is no driver.
        if (!driver.empty() && !fs::exists(device / "driver", linkError)) driver.clear();
        const int uartType = IsLegacyComName(name) ? UartType(roots, name) : -1;
        if (!IsSerialPort(name, driver, uartType)) continue;

        TPortInfo info;
        info.name = name;
        info.devicePath = "/dev/" + name;
        if (const auto link = stable.find(name); link != stable.end()) info.stableName = link->second;
        std::string serial;
        if (const fs::path usb = FindUsbDevice(device); !usb.empty()) {
            info.description = VendorAndModel(ReadAttribute(usb / "manufacturer"), ReadAttribute(usb / "product"));
            serial = ReadAttribute(usb / "serial");
        }
        if (info.description.empty()) info.description = Fallback(name, driver, uartType);
        info.description = WithSerial(info.description, serial);
        found.push_back(std::move(info));
    }
    std::sort(found.begin(), found.end(),
              [](const TPortInfo& a, const TPortInfo& b) { return NaturalLess(a.name, b.name); });
    return found;
}

TPortInfo CPortEnum::FromUdevProperties(const std::string& sysName, const std::string& devNode,
                                        const TProperties& props, const std::string& driver, int uartType) {
    TPortInfo info;
    info.name = sysName;
    info.devicePath = devNode.empty() ? "/dev/" + sysName : devNode;
    const std::string links = Property(props, "DEVLINKS");
    for (std::size_t at = 0; at < links.size();) {
        std::size_t end = links.find(' ', at);
        if (end == std::string::npos) end = links.size();
        const std::string link = links.substr(at, end - at);
        if (StartsWith(link, "/dev/serial/by-id/") && link.size() > 18) {
            info.stableName = link;
            break;
        }
        at = end + 1;
    }
    const std::string vendor = UdevName(props, "ID_VENDOR_ENC", "ID_VENDOR", "ID_VENDOR_ID", "ID_VENDOR_FROM_DATABASE");
    const std::string model = UdevName(props, "ID_MODEL_ENC", "ID_MODEL", "ID_MODEL_ID", "ID_MODEL_FROM_DATABASE");
    info.description = VendorAndModel(vendor, model);
    if (info.description.empty()) info.description = Fallback(sysName, CleanText(driver), uartType);
    info.description = WithSerial(info.description, CleanText(Property(props, "ID_SERIAL_SHORT")));
    return info;
}

bool CPortEnum::NaturalLess(const std::string& a, const std::string& b) {
    std::size_t stemA = 0, stemB = 0;
    long na = TrailingNumber(a, stemA), nb = TrailingNumber(b, stemB);
    int byStem = a.compare(0, stemA, b, 0, stemB);
    if (byStem != 0) return byStem < 0;
    if (na != nb) return na < nb;
    return a < b;
}

std::string CPortEnum::CleanText(const std::string& text) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool blank = byte < 0x20 || byte == 0x7f || c == ' ';
        if (blank) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.size() > kMaxText) {
        std::size_t cut = kMaxText;
        // Never in the middle of a UTF-8 character.
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    return out;
}
