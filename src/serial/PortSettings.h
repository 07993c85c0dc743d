// The line settings a user chooses, as one value: the port's name and its
// baud rate, data bits, parity, stop bits and flow control, each as the
// display text the lists show and the profile stores. The Comm Port page
// fills one and hands it to the window, which opens the port with it;
// CCommPort applies it to the device and reads the device back into one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Dcb.h"

class CPortSettings {
public:
    // The line settings, in the order the port applies them.
    enum class TLine { BAUD, DATA_LENGTH, PARITY, STOP_LENGTH, FLOW_CONTROL };

    // The choices, appended in list order (for parity the position is the
    // device's parity code). Always true.
    static bool ListPorts(std::vector<std::string>& ports);
    static bool ListBauds(std::vector<std::string>& bauds);
    static bool ListDataLengths(std::vector<std::string>& lengths);
    static bool ListStopLengths(std::vector<std::string>& lengths);
    static bool ListParities(std::vector<std::string>& parities);
    static bool ListFlowControls(std::vector<std::string>& flows);
    // "COM1"; the others from the string table (false when it lacks them).
    static bool GetDefaultPort(std::string& text);
    static bool GetDefaultBaud(std::string& text);
    static bool GetDefaultDataLength(std::string& text);
    static bool GetDefaultParity(std::string& text);
    static bool GetDefaultStopLength(std::string& text);
    static bool GetDefaultFlowControl(std::string& text);

    // Each takes a text the line can hold and keeps it as given; false,
    // keeping what was there, for one it cannot: a parity or flow control
    // not in its list (exact case), stop bits whose leading number is not 1
    // or 2. Baud rate and data bits take the leading number (none: 0) and
    // leave the judging to the device.
    void SetPortName(const std::string& name) { m_port = name; }
    bool SetBaud(const std::string& text) { return Set(TLine::BAUD, text); }
    bool SetDataLength(const std::string& text) { return Set(TLine::DATA_LENGTH, text); }
    bool SetParity(const std::string& name) { return Set(TLine::PARITY, name); }
    bool SetStopLength(const std::string& text) { return Set(TLine::STOP_LENGTH, text); }
    bool SetFlowControl(const std::string& name) { return Set(TLine::FLOW_CONTROL, name); }

    // False when the value holds no such setting (an empty port name, a
    // setting never set, or one the device had no text for).
    bool GetPortName(std::string& text) const;
    bool GetBaud(std::string& text) const { return Get(TLine::BAUD, text); }
    bool GetDataLength(std::string& text) const { return Get(TLine::DATA_LENGTH, text); }
    bool GetParity(std::string& text) const { return Get(TLine::PARITY, text); }
    bool GetStopLength(std::string& text) const { return Get(TLine::STOP_LENGTH, text); }
    bool GetFlowControl(std::string& text) const { return Get(TLine::FLOW_CONTROL, text); }

    // Section "Communication": "CommPort", "Baud", "DataLength", "Parity"
    // and "StopLength" (flow control is not stored). A missing key gives the
    // default, an empty one leaves the setting unset; a stored text is kept
    // as it is, even one the line cannot take: the port says which when it
    // applies it. False when the stored port name is empty.
    bool LoadProfile();
    // Writes the port name when there is one and each line setting held.
    void SaveProfile() const;

private:
    friend class CCommPort;

    bool Set(TLine line, const std::string& text);
    bool Get(TLine line, std::string& text) const;
    bool Holds(TLine line) const { return m_line[Index(line)].has_value(); }
    // The held text into its field of dcb (flow control: its switches);
    // false when it is not one the line can take.
    bool PutInto(TLine line, DCB& dcb) const;
    // The device's settings as texts; one without a text is left unset.
    void TakeFrom(const DCB& dcb);
    void ClearLine();
    // What a refused stored setting is reported as: the setter's name for
    // the trace, and the hint naming key, text and choices.
    static const char* SetterName(TLine line);
    std::string RefusedHint(TLine line) const;
    static constexpr std::size_t Index(TLine line) { return static_cast<std::size_t>(line); }

    std::string m_port;
    std::optional<std::string> m_line[5];
};
