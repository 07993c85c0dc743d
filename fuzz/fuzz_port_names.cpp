// Port names as a user types them or a profile holds them: network names
// (rfc2217://, tcp://, a bracketed IPv6 host), device paths, COMn and the
// simulated clock's "SIM", as the name parser and the port catalogue take
// them. A parsed name's key parses back to the same port; every name goes to
// the device it says, and none is opened.
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "NetDevice.h"
#include "PortCatalogue.h"
#include "TextUtil.h"

namespace {

// A local line that is never opened: what the factory makes for device paths.
class CUnopened : public CSerialDevice {
public:
    bool Open(const std::string&) override { return false; }
    void Close() override {}
    bool IsOpen() const override { return false; }
    bool GetLineState(TLineSettings&) override { return false; }
    bool SetLineState(const TLineSettings&) override { return false; }
    ssize_t Read(unsigned char*, std::size_t) override { return -1; }
    ssize_t Write(const unsigned char*, std::size_t) override { return -1; }
    TDeviceEvents Wait(TDeviceEvents, int) override { return TDeviceEvents::Failed; }
    void InterruptWait() override {}
    bool Drain(unsigned) override { return false; }
    bool Purge(bool, bool) override { return false; }
    bool SetBreak(bool) override { return false; }
    bool QueuedInput(unsigned&) override { return false; }
    bool GetErrorCounts(TErrorCounts&) override { return false; }
};

// The simulated clock's own device, told apart from the factory's.
class CSimUnopened : public CUnopened {};

bool IsDecimalPort(const std::string& port) {
    if (port.empty() || port.size() > 5 || port[0] == '0') return false;
    unsigned long value = 0;
    for (unsigned char c : port) {
        if (!std::isdigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

bool IsComName(const std::string& name) {
    return name.size() == 4 && EqualNoCase(name.substr(0, 3), "COM") && name[3] >= '1' && name[3] <= '4';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = [] {
        CPortCatalogue::RegisterVirtualPort("SIM", "simulated clock", [] { return std::make_shared<CSimUnopened>(); });
        return true;
    }();
    (void)registered;
    const std::string name(reinterpret_cast<const char*>(data), size);

    const bool network = IsNetworkPortName(name);
    TNetPortName parsed;
    if (ParseNetworkPortName(name, parsed)) {
        FUZZ_CHECK(network);
        FUZZ_CHECK(!parsed.host.empty());
        FUZZ_CHECK(IsDecimalPort(parsed.port));
        for (unsigned char c : parsed.host)
            FUZZ_CHECK(!std::isspace(c) && c != '/' && c != '@' && c != '[' && c != ']');
        // The key names the same port, and is its own key.
        const std::string key = NetPortKey(parsed);
        for (unsigned char c : key) FUZZ_CHECK(!std::isupper(c));
        TNetPortName back;
        FUZZ_CHECK(ParseNetworkPortName(key, back));
        FUZZ_CHECK(back.rfc2217 == parsed.rfc2217);
        FUZZ_CHECK(back.port == parsed.port);
        FUZZ_CHECK(EqualNoCase(back.host, parsed.host));
        FUZZ_CHECK(NetPortKey(back) == key);
        const auto device = MakeNetworkDevice(name);
        FUZZ_CHECK(device && device->IsNetworkLink() && !device->IsOpen());
    }
    // Whatever a network name's fault, the user is told what to do.
    if (network) FUZZ_CHECK(!CPortCatalogue::OpenHint(ECONNREFUSED, name).empty());

    const CPortCatalogue::TTarget target =
        CPortCatalogue::Resolve(name, [] { return std::make_shared<CUnopened>(); });
    FUZZ_CHECK(target.device != nullptr);
    FUZZ_CHECK(!target.device->IsOpen());
    if (!CPortCatalogue::VirtualPortName(name).empty()) {
        FUZZ_CHECK(target.isVirtual);
        FUZZ_CHECK(target.portName == "SIM" && target.path == "SIM");
        FUZZ_CHECK(dynamic_cast<CSimUnopened*>(target.device.get()) != nullptr);
    } else if (network) {
        FUZZ_CHECK(!target.isVirtual);
        FUZZ_CHECK(target.path == name);
        FUZZ_CHECK(target.device->IsNetworkLink());
    } else {
        FUZZ_CHECK(!target.isVirtual);
        FUZZ_CHECK(!target.device->IsNetworkLink());
        FUZZ_CHECK(target.path == CPortCatalogue::DevicePath(target.portName));
        if (IsComName(name)) FUZZ_CHECK(target.path == "/dev/ttyS" + std::string(1, static_cast<char>(name[3] - 1)));
    }
    return 0;
}
