// CCommPort's line settings as display texts: the choice lists, their
// defaults, and setters and getters over the device's line state.
#include <cctype>
#include <climits>

#include "CommPort.h"
#include "PortCatalogue.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

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
    for (auto& port : CPortCatalogue::ListPorts()) ports.push_back(std::move(port));
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
