// CCommPort and its profile: reading the switches and the stored port at
// construction (opening it when asked to), restoring the stored line
// settings, and storing both at destruction. The constructors and the
// destructor live here, above the port's own file, so that file never calls
// back into this one.
#include "PortProfile.h"

#include <utility>

#include "CommPort.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "StringTable.h"
#include "Resource.h"
#include "TermiosDevice.h"
#include "Win32Err.h"

namespace K = ProfileKeys;

namespace {

std::shared_ptr<CSerialDevice> MakeTermiosDevice() { return std::make_shared<CTermiosDevice>(); }

}  // namespace

CCommPort::CCommPort() : CCommPort(nullptr) {}

CCommPort::CCommPort(IPortReporter* reporter, DeviceFactory factory, TProfileUse use)
    : m_factory(factory ? std::move(factory) : DeviceFactory(MakeTermiosDevice)),
      m_storesProfile(use == TProfileUse::ReadAndStore),
      m_reporter(reporter) {
    m_timeouts.ReadIntervalTimeout = MAXDWORD;
    if (m_storesProfile) LoadProfile();
}

CCommPort::~CCommPort() {
    if (m_storesProfile) SaveProfile();
    Close();
    ReadStop();
}

bool CCommPort::LoadProfile() {
    if (GetProfilePath().empty()) return false;
    m_verbose = GetProfileInt(K::DEBUG, K::VERBOSE, 0) != 0;
    m_autoOpen = GetProfileInt(K::COMMUNICATION, K::AUTO_OPEN, 1) != 0;
    std::string defaultPort;
    GetDefaultPort(defaultPort);
    const std::string name = GetProfileString(K::COMMUNICATION, K::COMM_PORT, defaultPort);
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
        {K::BAUD, "SetBaud", &CCommPort::GetDefaultBaud, &CCommPort::SetBaud, &CCommPort::ListBauds},
        {K::DATA_LENGTH, "SetDataLength", &CCommPort::GetDefaultDataLength, &CCommPort::SetDataLength,
         &CCommPort::ListDataLengths},
        {K::PARITY, "SetParity", &CCommPort::GetDefaultParity, &CCommPort::SetParity, &CCommPort::ListParities},
        {K::STOP_LENGTH, "StopLength", &CCommPort::GetDefaultStopLength, &CCommPort::SetStopLength,
         &CCommPort::ListStopLengths},
    };
    for (const auto& step : kRestore) {
        std::string def;
        (this->*step.getDefault)(def);
        const std::string text = GetProfileString(K::COMMUNICATION, step.key, def);
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
            // Shown also for a refusal without a device call (no error
            // code), which once showed nothing at all and left the user guessing.
            ReportAndClose(err, true);
            return false;
        }
    }
    return true;
}

bool CCommPort::SaveProfile() {
    WriteProfileInt(K::DEBUG, K::VERBOSE, m_verbose ? 1 : 0);
    // Read from "Communication", kept under "Intelligence": the program has
    // always done so, and profiles in use carry it there.
    WriteProfileInt(K::INTELLIGENCE, K::AUTO_OPEN, m_autoOpen ? 1 : 0);
    // A closed port leaves the stored port and line settings as they were.
    if (IsOpen()) StorePortSettings(*this);
    return true;
}

void StorePortSettings(CCommPort& port) {
    std::string text;
    if (port.GetPortName(text)) WriteProfileString(K::COMMUNICATION, K::COMM_PORT, text);
    // A closed port reads nothing: those keys stay as they are.
    if (port.GetBaud(text)) WriteProfileString(K::COMMUNICATION, K::BAUD, text);
    if (port.GetDataLength(text)) WriteProfileString(K::COMMUNICATION, K::DATA_LENGTH, text);
    if (port.GetParity(text)) WriteProfileString(K::COMMUNICATION, K::PARITY, text);
    if (port.GetStopLength(text)) WriteProfileString(K::COMMUNICATION, K::STOP_LENGTH, text);
}
