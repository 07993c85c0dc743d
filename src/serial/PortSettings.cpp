// CCommPort's line settings as display texts, and its profile switches.
#include <cctype>
#include <climits>

#include "CommPort.h"
#include "Messages.h"
#include "PortList.h"
#include "Profile.h"
#include "Prompts.h"
#include "Resource.h"
#include "StringTable.h"
#include "Win32Err.h"

namespace {

constexpr char kSection[] = "Communication";

constexpr unsigned IDS_DEFAULT_BAUD = 40012, IDS_DEFAULT_DATA = 40017, IDS_DEFAULT_PARITY = 40020,
                   IDS_DEFAULT_STOP = 40018, IDS_DEFAULT_FLOW = 40023;

void AppendStrings(unsigned first, unsigned last, std::vector<std::string>& out) {
    for (unsigned id = first; id <= last; ++id) {
        std::string text;
        if (LoadString(id, text)) out.push_back(text);
    }
}

// The leading decimal number of a text, as atoi reads it (0 when there is
// none), without atoi's overflow.
long LeadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = INT_MAX;
    }
    return negative ? -value : value;
}

}  // namespace

bool CCommPort::ListPorts(std::vector<std::string>& ports) {
    for (int n = 1; n <= 4; ++n) ports.push_back(FormatString("COM%d", n));
    for (const auto& path : CPortList::FindSerialDevices()) ports.push_back(path);
    ListVirtualPorts(ports);
    return true;
}

bool CCommPort::ListBauds(std::vector<std::string>& bauds) {
    AppendStrings(IDS_BAUD_FIRST, IDS_BAUD_LAST, bauds);
    return true;
}

bool CCommPort::ListDataLengths(std::vector<std::string>& lengths) {
    AppendStrings(IDS_DATA_FIRST, IDS_DATA_LAST, lengths);
    return true;
}

bool CCommPort::ListStopLengths(std::vector<std::string>& lengths) {
    AppendStrings(IDS_STOP_FIRST, IDS_STOP_LAST, lengths);
    return true;
}

bool CCommPort::ListParities(std::vector<std::string>& parities) {
    AppendStrings(IDS_PARITY_FIRST, IDS_PARITY_LAST, parities);
    return true;
}

bool CCommPort::ListFlowControls(std::vector<std::string>& flows) {
    AppendStrings(IDS_FLOW_FIRST, IDS_FLOW_LAST, flows);
    return true;
}

bool CCommPort::GetDefaultPort(std::string& text) {
    text = "COM1";
    return true;
}

bool CCommPort::GetDefaultBaud(std::string& text) { return LoadString(IDS_DEFAULT_BAUD, text); }
bool CCommPort::GetDefaultDataLength(std::string& text) { return LoadString(IDS_DEFAULT_DATA, text); }
bool CCommPort::GetDefaultParity(std::string& text) { return LoadString(IDS_DEFAULT_PARITY, text); }
bool CCommPort::GetDefaultStopLength(std::string& text) { return LoadString(IDS_DEFAULT_STOP, text); }
bool CCommPort::GetDefaultFlowControl(std::string& text) { return LoadString(IDS_DEFAULT_FLOW, text); }

bool CCommPort::SetBaud(const std::string& text) {
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    // No number gives 0, which the device refuses.
    dcb.BaudRate = static_cast<std::uint32_t>(LeadingNumber(text));
    return SetDCB(dcb);
}

bool CCommPort::SetDataLength(const std::string& text) {
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    dcb.ByteSize = static_cast<std::uint8_t>(LeadingNumber(text) & 0xFF);
    return SetDCB(dcb);
}

bool CCommPort::SetStopLength(const std::string& text) {
    const long stop = LeadingNumber(text);
    if (stop != 1 && stop != 2) return false;
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    dcb.StopBits = stop == 1 ? ONESTOPBIT : TWOSTOPBITS;
    return SetDCB(dcb);
}

bool CCommPort::SetParity(const std::string& name) {
    std::vector<std::string> parities;
    ListParities(parities);
    std::size_t pos = 0;
    while (pos < parities.size() && parities[pos] != name) ++pos;
    if (pos == parities.size()) return false;
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    dcb.Parity = static_cast<std::uint8_t>(pos);  // parity checking stays as it was
    return SetDCB(dcb);
}

bool CCommPort::GetPortName(std::string& text) {
    if (m_name.empty()) return false;
    text = m_name;
    return true;
}

bool CCommPort::GetBaud(std::string& text) {
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    text = std::to_string(dcb.BaudRate);
    return true;
}

bool CCommPort::GetDataLength(std::string& text) {
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    text = std::to_string(dcb.ByteSize);
    return true;
}

bool CCommPort::GetParity(std::string& text) {
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    std::vector<std::string> parities;
    ListParities(parities);
    // Mark and space parity have no entry in the list.
    text = dcb.Parity < parities.size() ? parities[dcb.Parity] : std::string("Resource error!");
    return true;
}

bool CCommPort::GetStopLength(std::string& text) {
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    if (dcb.StopBits == ONESTOPBIT) {
        text = "1";
        return true;
    }
    if (dcb.StopBits == TWOSTOPBITS) {
        text = "2";
        return true;
    }
    return false;  // one and a half
}

bool CCommPort::SetFlowControl(const std::string& name) {
    std::vector<std::string> flows;
    ListFlowControls(flows);
    const bool none = !flows.empty() && name == flows[0];
    const bool xonXoff = flows.size() > 1 && name == flows[1];
    if (!none && !xonXoff) return false;
    DCB dcb{};
    GetDCB(dcb);
    dcb.fInX = dcb.fOutX = xonXoff;
    dcb.fOutxDsrFlow = false;
    dcb.fOutxCtsFlow = false;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return SetDCB(dcb);
}

bool CCommPort::GetFlowControl(std::string& text) {
    DCB dcb;
    if (!GetDCB(dcb)) return false;
    std::vector<std::string> flows;
    ListFlowControls(flows);
    const bool noHardware = !dcb.fOutxDsrFlow && !dcb.fOutxCtsFlow;
    if (!dcb.fInX && !dcb.fOutX && noHardware && dcb.fDtrControl == DTR_CONTROL_DISABLE && !flows.empty()) {
        text = flows[0];
        return true;
    }
    if (dcb.fInX && dcb.fOutX && noHardware && flows.size() > 1) {
        text = flows[1];
        return true;
    }
    if (dcb.fDtrControl != DTR_CONTROL_DISABLE) return LoadString(IDS_FLOW_DATA_READY, text);
    return false;
}

bool CCommPort::LoadProfile() {
    if (GetProfilePath().empty()) return false;
    m_verbose = GetProfileInt("Debug", "Verbose", 0) != 0;
    m_autoOpen = GetProfileInt(kSection, "AutoOpen", 1) != 0;
    std::string defaultPort;
    GetDefaultPort(defaultPort);
    const std::string name = GetProfileString(kSection, "CommPort", defaultPort);
    if (name.empty()) return false;
    if (!m_autoOpen) return true;
    if (!Open(name)) return false;
    return RestoreLineSettings();
}

bool CCommPort::RestoreLineSettings() {
    struct TRestore {
        const char* key;
        const char* failName;
        bool (CCommPort::*getDefault)(std::string&);
        bool (CCommPort::*set)(const std::string&);
        bool (CCommPort::*list)(std::vector<std::string>&);
    };
    static const TRestore kRestore[] = {
        {"Baud", "SetBaud", &CCommPort::GetDefaultBaud, &CCommPort::SetBaud, &CCommPort::ListBauds},
        {"DataLength", "SetDataLength", &CCommPort::GetDefaultDataLength, &CCommPort::SetDataLength,
         &CCommPort::ListDataLengths},
        {"Parity", "SetParity", &CCommPort::GetDefaultParity, &CCommPort::SetParity, &CCommPort::ListParities},
        {"StopLength", "StopLength", &CCommPort::GetDefaultStopLength, &CCommPort::SetStopLength,
         &CCommPort::ListStopLengths},
    };
    for (const auto& step : kRestore) {
        std::string def;
        (this->*step.getDefault)(def);
        const std::string text = GetProfileString(kSection, step.key, def);
        if (text.empty()) continue;
        m_lastError = 0;
        if (!(this->*step.set)(text)) {
            CWin32Err err(step.failName, m_lastError);
            // Which stored setting was refused, and what it may hold.
            std::vector<std::string> choices;
            (this->*step.list)(choices);
            std::string list;
            for (std::size_t i = 0; i < choices.size(); ++i) list += (i ? ", " : "") + choices[i];
            err.AppendHint(FormatString(GetString(IDS_PROFILE_SETTING_REFUSED).c_str(), step.key, text.c_str(),
                                        list.c_str()));
            NotifyStatus(-1, 0);
            if (IsOpen()) Close();
            std::string message;
            err.GetText(message);
            // Also a refusal without a device call (no error code), which
            // once showed nothing at all and left the user guessing.
            if (m_verbose) ShowMessageBox(message);
            return false;
        }
    }
    return true;
}

bool CCommPort::SaveProfile() {
    WriteProfileInt("Debug", "Verbose", m_verbose ? 1 : 0);
    // Read from "Communication", kept under "Intelligence": the program has
    // always done so, and profiles in use carry it there.
    WriteProfileInt("Intelligence", "AutoOpen", m_autoOpen ? 1 : 0);
    if (!IsOpen()) return true;
    std::string text;
    if (GetPortName(text)) WriteProfileString(kSection, "CommPort", text);
    if (GetBaud(text)) WriteProfileString(kSection, "Baud", text);
    if (GetDataLength(text)) WriteProfileString(kSection, "DataLength", text);
    if (GetParity(text)) WriteProfileString(kSection, "Parity", text);
    if (GetStopLength(text)) WriteProfileString(kSection, "StopLength", text);
    return true;
}
