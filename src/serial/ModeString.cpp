#include "ModeString.h"

#include <charconv>
#include <cstdint>
#include <string_view>
#include <vector>

#include "TextUtil.h"

namespace {

constexpr std::uint32_t kDcbLength = 28;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

// Digits only: no sign, no blanks, nothing after, and it must fit.
bool ParseNumber(std::string_view s, std::uint32_t& value)
{
    if (s.empty() || s.front() < '0' || s.front() > '9')
        return false;
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
        return false;
    value = v;
    return true;
}

// The mode command's two-digit shorthands. A rate of 0 is refused here: no
// line runs at it, and handed on to a terminal it would mean "hang up".
bool ParseBaud(std::string_view s, std::uint32_t& baud)
{
    std::uint32_t v = 0;
    if (!ParseNumber(s, v) || v == 0)
        return false;
    switch (v) {
    case 11: v = 110; break;
    case 15: v = 150; break;
    case 30: v = 300; break;
    case 60: v = 600; break;
    case 12: v = 1200; break;
    case 24: v = 2400; break;
    case 48: v = 4800; break;
    case 96: v = 9600; break;
    case 19: v = 19200; break;
    default: break;
    }
    baud = v;
    return true;
}

bool ParseParity(std::string_view s, std::uint8_t& parity)
{
    if (s.size() != 1)
        return false;
    switch (Lower(s[0])) {
    case 'n': parity = NOPARITY; return true;
    case 'o': parity = ODDPARITY; return true;
    case 'e': parity = EVENPARITY; return true;
    case 'm': parity = MARKPARITY; return true;
    case 's': parity = SPACEPARITY; return true;
    default: return false;
    }
}

bool ParseDataBits(std::string_view s, std::uint8_t& bits)
{
    std::uint32_t v = 0;
    if (!ParseNumber(s, v) || v < 5 || v > 8)
        return false;
    bits = static_cast<std::uint8_t>(v);
    return true;
}

// Any stop setting goes with any data length here: whether a UART can send
// 1.5 stop bits with 8 data bits is for the driver to judge when the
// settings are applied, as on Windows.
bool ParseStopBits(std::string_view s, std::uint8_t& stop)
{
    if (s == "1")
        stop = ONESTOPBIT;
    else if (s == "1.5")
        stop = ONE5STOPBITS;
    else if (s == "2")
        stop = TWOSTOPBITS;
    else
        return false;
    return true;
}

bool ParseOnOff(std::string_view s, bool& on)
{
    if (SameText(s, "on"))
        on = true;
    else if (SameText(s, "off"))
        on = false;
    else
        return false;
    return true;
}

bool ParseDtr(std::string_view s, std::uint8_t& dtr)
{
    if (SameText(s, "on"))
        dtr = DTR_CONTROL_ENABLE;
    else if (SameText(s, "off"))
        dtr = DTR_CONTROL_DISABLE;
    else if (SameText(s, "hs"))
        dtr = DTR_CONTROL_HANDSHAKE;
    else
        return false;
    return true;
}

bool ParseRts(std::string_view s, std::uint8_t& rts)
{
    if (SameText(s, "on"))
        rts = RTS_CONTROL_ENABLE;
    else if (SameText(s, "off"))
        rts = RTS_CONTROL_DISABLE;
    else if (SameText(s, "hs"))
        rts = RTS_CONTROL_HANDSHAKE;
    else if (SameText(s, "tg"))
        rts = RTS_CONTROL_TOGGLE;
    else
        return false;
    return true;
}

// "COMn" or "COMn:" in front of the settings; the name itself is not used
// (the port is opened by its own name), but it must look like a port.
bool SkipDeviceName(std::string_view& s)
{
    if (s.size() < 4 || !SameText(s.substr(0, 3), "com") || s[3] < '0' || s[3] > '9')
        return true;
    std::size_t i = 3;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    std::uint32_t number = 0;
    if (!ParseNumber(s.substr(3, i - 3), number) || number < 1 || number > 256)
        return false;
    if (i < s.size() && s[i] == ':')
        ++i;
    else if (i < s.size() && !IsBlank(s[i]))
        return false;
    s.remove_prefix(i);
    return true;
}

bool ParseNewForm(std::string_view s, DCB& dcb)
{
    bool baudGiven = false;
    bool stopGiven = false;
    std::size_t pos = 0;
    while (pos < s.size()) {
        if (IsBlank(s[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < s.size() && !IsBlank(s[end]))
            ++end;
        const std::string_view token = s.substr(pos, end - pos);
        pos = end;

        const std::size_t eq = token.find('=');
        if (eq == std::string_view::npos)
            return false;
        const std::string_view key = token.substr(0, eq);
        const std::string_view value = token.substr(eq + 1);
        bool on = false;
        // A key named twice is not an error; the last one counts.
        if (SameText(key, "baud")) {
            if (!ParseBaud(value, dcb.BaudRate))
                return false;
            baudGiven = true;
        } else if (SameText(key, "parity")) {
            if (!ParseParity(value, dcb.Parity))
                return false;
        } else if (SameText(key, "data")) {
            if (!ParseDataBits(value, dcb.ByteSize))
                return false;
        } else if (SameText(key, "stop")) {
            if (!ParseStopBits(value, dcb.StopBits))
                return false;
            stopGiven = true;
        } else if (SameText(key, "to")) {
            // Time-out handling lives outside the DCB; the value is only checked.
            if (!ParseOnOff(value, on))
                return false;
        } else if (SameText(key, "xon")) {
            if (!ParseOnOff(value, on))
                return false;
            dcb.fInX = on;
            dcb.fOutX = on;
        } else if (SameText(key, "odsr")) {
            if (!ParseOnOff(value, dcb.fOutxDsrFlow))
                return false;
        } else if (SameText(key, "octs")) {
            if (!ParseOnOff(value, dcb.fOutxCtsFlow))
                return false;
        } else if (SameText(key, "dtr")) {
            if (!ParseDtr(value, dcb.fDtrControl))
                return false;
        } else if (SameText(key, "rts")) {
            if (!ParseRts(value, dcb.fRtsControl))
                return false;
        } else if (SameText(key, "idsr")) {
            if (!ParseOnOff(value, dcb.fDsrSensitivity))
                return false;
        } else {
            return false;
        }
    }
    // The mode command's default: one stop bit, two at 110 baud. Data bits
    // and parity have no such default here; they keep the caller's values.
    if (!stopGiven)
        dcb.StopBits = (baudGiven && dcb.BaudRate == 110) ? TWOSTOPBITS : ONESTOPBIT;
    return true;
}

bool ParseOldForm(std::string_view s, DCB& dcb)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = s.find(',', start);
        fields.push_back(Trim(s.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    if (fields.size() != 4 && fields.size() != 5)
        return false;
    if (!ParseBaud(fields[0], dcb.BaudRate) || !ParseParity(fields[1], dcb.Parity)
        || !ParseDataBits(fields[2], dcb.ByteSize) || !ParseStopBits(fields[3], dcb.StopBits))
        return false;

    char handshake = 0;
    if (fields.size() == 5) {
        if (fields[4].size() != 1)
            return false;
        handshake = Lower(fields[4][0]);
        if (handshake != 'x' && handshake != 'p')
            return false;
    }
    dcb.fInX = dcb.fOutX = (handshake == 'x');
    dcb.fOutxDsrFlow = dcb.fOutxCtsFlow = (handshake == 'p');
    dcb.fDtrControl = (handshake == 'p') ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fRtsControl = (handshake == 'p') ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    return true;
}

const char* OnOff(bool on) { return on ? "on" : "off"; }

} // namespace

bool BuildCommDCB(const char* mode, DCB& dcb)
{
    if (mode == nullptr)
        return false;
    std::string_view s = Trim(mode);
    if (!SkipDeviceName(s))
        return false;
    s = Trim(s);
    if (s.empty())
        return false;

    // Work on a copy so that a refusal part-way leaves the caller's DCB as it was.
    DCB result = dcb;
    const bool parsed = (s.find(',') != std::string_view::npos) ? ParseOldForm(s, result) : ParseNewForm(s, result);
    if (!parsed)
        return false;
    result.DCBlength = kDcbLength;
    result.fBinary = true;
    dcb = result;
    return true;
}

std::string FormatModeString(const DCB& dcb)
{
    static const char kParity[] = "noems";
    switch (dcb.BaudRate) {
    case 0: case 11: case 15: case 30: case 60: case 12: case 24: case 48: case 96: case 19:
        return std::string();
    default:
        break;
    }
    if (dcb.Parity > SPACEPARITY || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.StopBits > TWOSTOPBITS
        || dcb.fInX != dcb.fOutX || dcb.fDtrControl > DTR_CONTROL_HANDSHAKE || dcb.fRtsControl > RTS_CONTROL_TOGGLE)
        return std::string();

    static const char* const kStop[] = {"1", "1.5", "2"};
    static const char* const kDtr[] = {"off", "on", "hs"};
    static const char* const kRts[] = {"off", "on", "hs", "tg"};
    std::string text = "baud=" + std::to_string(dcb.BaudRate);
    text += " parity=";
    text += kParity[dcb.Parity];
    text += " data=" + std::to_string(dcb.ByteSize);
    text += " stop=";
    text += kStop[dcb.StopBits];
    text += " xon=";
    text += OnOff(dcb.fOutX);
    text += " odsr=";
    text += OnOff(dcb.fOutxDsrFlow);
    text += " octs=";
    text += OnOff(dcb.fOutxCtsFlow);
    text += " dtr=";
    text += kDtr[dcb.fDtrControl];
    text += " rts=";
    text += kRts[dcb.fRtsControl];
    text += " idsr=";
    text += OnOff(dcb.fDsrSensitivity);
    return text;
}
