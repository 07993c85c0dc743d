// CPortSettings: the choice lists and their defaults, the texts into and out
// of the device's line state, and the value's place in the profile.
#include "PortSettings.h"

#include <cctype>
#include <climits>

#include "PortCatalogue.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "Resource.h"
#include "StringTable.h"

namespace K = ProfileKeys;

namespace {

// One row per line setting, in CPortSettings::TLine order.
struct TLineRow {
    const char* key;         // in section "Communication"; nullptr: not stored
    const char* setterName;  // what a refused stored setting is reported as
    unsigned first, last;    // the choice list's string ids
    unsigned def;            // the default's string id
};
constexpr TLineRow kLines[] = {
    {K::BAUD, "SetBaud", IDS_BAUD_FIRST, IDS_BAUD_LAST, IDS_BAUD_DEFAULT},
    {K::DATA_LENGTH, "SetDataLength", IDS_DATA_FIRST, IDS_DATA_LAST, IDS_DATA_DEFAULT},
    {K::PARITY, "SetParity", IDS_PARITY_FIRST, IDS_PARITY_LAST, IDS_PARITY_DEFAULT},
    // Reported as "StopLength", as it always was.
    {K::STOP_LENGTH, "StopLength", IDS_STOP_FIRST, IDS_STOP_LAST, IDS_STOP_DEFAULT},
    {nullptr, "SetFlowControl", IDS_FLOW_FIRST, IDS_FLOW_LAST, IDS_FLOW_DEFAULT},
};

const TLineRow& Row(CPortSettings::TLine line) { return kLines[static_cast<std::size_t>(line)]; }

std::vector<std::string> Choices(CPortSettings::TLine line) {
    std::vector<std::string> out;
    for (unsigned id = Row(line).first; id <= Row(line).last; ++id) {
        std::string text;
        if (LoadString(id, text)) out.push_back(text);
    }
    return out;
}

bool AppendChoices(CPortSettings::TLine line, std::vector<std::string>& out) {
    for (auto& text : Choices(line)) out.push_back(std::move(text));
    return true;
}

// The position of text in the line's list, exact case; -1 when absent.
int Position(CPortSettings::TLine line, const std::string& text) {
    const std::vector<std::string> choices = Choices(line);
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i] == text) return static_cast<int>(i);
    return -1;
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

bool CPortSettings::ListPorts(std::vector<std::string>& ports) {
    for (auto& port : CPortCatalogue::ListPorts()) ports.push_back(std::move(port));
    return true;
}

bool CPortSettings::ListBauds(std::vector<std::string>& bauds) { return AppendChoices(TLine::BAUD, bauds); }
bool CPortSettings::ListDataLengths(std::vector<std::string>& lengths) {
    return AppendChoices(TLine::DATA_LENGTH, lengths);
}
bool CPortSettings::ListStopLengths(std::vector<std::string>& lengths) {
    return AppendChoices(TLine::STOP_LENGTH, lengths);
}
bool CPortSettings::ListParities(std::vector<std::string>& parities) { return AppendChoices(TLine::PARITY, parities); }
bool CPortSettings::ListFlowControls(std::vector<std::string>& flows) {
    return AppendChoices(TLine::FLOW_CONTROL, flows);
}

bool CPortSettings::GetDefaultPort(std::string& text) {
    text = "COM1";
    return true;
}

bool CPortSettings::GetDefaultBaud(std::string& text) { return LoadString(Row(TLine::BAUD).def, text); }
bool CPortSettings::GetDefaultDataLength(std::string& text) { return LoadString(Row(TLine::DATA_LENGTH).def, text); }
bool CPortSettings::GetDefaultParity(std::string& text) { return LoadString(Row(TLine::PARITY).def, text); }
bool CPortSettings::GetDefaultStopLength(std::string& text) { return LoadString(Row(TLine::STOP_LENGTH).def, text); }
bool CPortSettings::GetDefaultFlowControl(std::string& text) {
    return LoadString(Row(TLine::FLOW_CONTROL).def, text);
}

bool CPortSettings::Set(TLine line, const std::string& text) {
    DCB scratch{};
    CPortSettings probe;
    probe.m_line[Index(line)] = text;
    if (!probe.PutInto(line, scratch)) return false;
    m_line[Index(line)] = text;
    return true;
}

bool CPortSettings::Get(TLine line, std::string& text) const {
    if (!Holds(line)) return false;
    text = *m_line[Index(line)];
    return true;
}

bool CPortSettings::GetPortName(std::string& text) const {
    if (m_port.empty()) return false;
    text = m_port;
    return true;
}

bool CPortSettings::PutInto(TLine line, DCB& dcb) const {
    if (!Holds(line)) return false;
    const std::string& text = *m_line[Index(line)];
    switch (line) {
    case TLine::BAUD:
        // No number gives 0, which the device refuses.
        dcb.BaudRate = static_cast<std::uint32_t>(LeadingNumber(text));
        return true;
    case TLine::DATA_LENGTH:
        dcb.ByteSize = static_cast<std::uint8_t>(LeadingNumber(text) & 0xFF);
        return true;
    case TLine::PARITY: {
        const int pos = Position(line, text);
        if (pos < 0) return false;
        dcb.Parity = static_cast<std::uint8_t>(pos);  // parity checking stays as it was
        return true;
    }
    case TLine::STOP_LENGTH: {
        const long stop = LeadingNumber(text);
        if (stop != 1 && stop != 2) return false;
        dcb.StopBits = stop == 1 ? ONESTOPBIT : TWOSTOPBITS;
        return true;
    }
    case TLine::FLOW_CONTROL: {
        // "None" or "Xon / Xoff"; "Data Ready" is only ever read back.
        const int pos = Position(line, text);
        if (pos < 0) return false;
        dcb.fInX = dcb.fOutX = pos == 1;
        dcb.fOutxDsrFlow = false;
        dcb.fOutxCtsFlow = false;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        return true;
    }
    }
    return false;
}

void CPortSettings::TakeFrom(const DCB& dcb) {
    m_line[Index(TLine::BAUD)] = std::to_string(dcb.BaudRate);
    m_line[Index(TLine::DATA_LENGTH)] = std::to_string(dcb.ByteSize);
    // Mark and space parity have no entry in the list.
    const std::vector<std::string> parities = Choices(TLine::PARITY);
    m_line[Index(TLine::PARITY)] = dcb.Parity < parities.size() ? parities[dcb.Parity] : "Resource error!";
    // One and a half stop bits have no text.
    auto& stop = m_line[Index(TLine::STOP_LENGTH)];
    stop.reset();
    if (dcb.StopBits == ONESTOPBIT) stop = "1";
    if (dcb.StopBits == TWOSTOPBITS) stop = "2";

    // A port set to "None" has DTR on, so it reads back as "Data Ready".
    const std::vector<std::string> flows = Choices(TLine::FLOW_CONTROL);
    auto& flow = m_line[Index(TLine::FLOW_CONTROL)];
    flow.reset();
    const bool noHardware = !dcb.fOutxDsrFlow && !dcb.fOutxCtsFlow;
    std::string dataReady;
    if (!dcb.fInX && !dcb.fOutX && noHardware && dcb.fDtrControl == DTR_CONTROL_DISABLE && !flows.empty())
        flow = flows[0];
    else if (dcb.fInX && dcb.fOutX && noHardware && flows.size() > 1)
        flow = flows[1];
    else if (dcb.fDtrControl != DTR_CONTROL_DISABLE && LoadString(IDS_FLOW_DATA_READY, dataReady))
        flow = dataReady;
}

void CPortSettings::ClearLine() {
    for (auto& line : m_line) line.reset();
}

const char* CPortSettings::SetterName(TLine line) { return Row(line).setterName; }

std::string CPortSettings::RefusedHint(TLine line) const {
    std::string list;
    for (const std::string& choice : Choices(line)) list += (list.empty() ? "" : ", ") + choice;
    const std::string text = m_line[Index(line)].value_or(std::string());
    const char* key = Row(line).key ? Row(line).key : "";
    return FormatString(GetString(IDS_PROFILE_SETTING_REFUSED).c_str(), key, text.c_str(), list.c_str());
}

bool CPortSettings::LoadProfile() {
    std::string def;
    GetDefaultPort(def);
    m_port = GetProfileString(K::COMMUNICATION, K::COMM_PORT, def);
    for (std::size_t i = 0; i < std::size(kLines); ++i) {
        m_line[i].reset();
        if (!kLines[i].key) continue;
        def.clear();
        LoadString(kLines[i].def, def);
        const std::string text = GetProfileString(K::COMMUNICATION, kLines[i].key, def);
        if (!text.empty()) m_line[i] = text;
    }
    return !m_port.empty();
}

void CPortSettings::SaveProfile() const {
    if (!m_port.empty()) WriteProfileString(K::COMMUNICATION, K::COMM_PORT, m_port);
    for (std::size_t i = 0; i < std::size(kLines); ++i)
        if (kLines[i].key && m_line[i]) WriteProfileString(K::COMMUNICATION, kLines[i].key, *m_line[i]);
}
