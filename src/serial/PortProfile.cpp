// CCommPort's profile and line settings: reading the switches and the stored
// port at construction (opening it when asked to), applying and reading
// back line settings, and storing both at destruction. The constructors and
// the destructor live here, above the port's own file, so that file never
// calls back into this one.
#include <utility>

#include "CommPort.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "TermiosDevice.h"
#include "Win32Err.h"

namespace K = ProfileKeys;

namespace {

std::shared_ptr<CSerialDevice> MakeTermiosDevice() { return std::make_shared<CTermiosDevice>(); }

using TLine = CPortSettings::TLine;
constexpr TLine kApplyOrder[] = {TLine::BAUD, TLine::DATA_LENGTH, TLine::PARITY, TLine::STOP_LENGTH,
                                 TLine::FLOW_CONTROL};

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
    CPortSettings stored;
    if (!stored.LoadProfile()) return false;
    if (!m_autoOpen) return true;
    std::string name;
    stored.GetPortName(name);
    if (!Open(name)) return false;
    return ApplySettings(stored, TSettingsFrom::PROFILE);
}

bool CCommPort::ApplyLine(const CPortSettings& settings, TLine line) {
    DCB dcb{};
    if (!GetDCB(dcb)) return false;
    settings.PutInto(line, dcb);
    return SetDCB(dcb);
}

bool CCommPort::ApplySettings(const CPortSettings& settings, TSettingsFrom from) {
    const bool stored = from == TSettingsFrom::PROFILE;
    bool all = true;
    for (const TLine line : kApplyOrder) {
        if (!settings.Holds(line)) continue;
        m_lastError = 0;
        // A text the line cannot take is refused before the device is asked.
        DCB scratch{};
        const bool taken = settings.PutInto(line, scratch) && ApplyLine(settings, line);
        if (taken) continue;
        all = false;
        if (!stored) continue;
        CWin32Err err(CPortSettings::SetterName(line), m_lastError);
        // Which stored setting was refused, and what it may hold.
        err.AppendHint(settings.RefusedHint(line));
        // Shown also for a refusal without a device call (no error
        // code), which once showed nothing at all and left the user guessing.
        ReportAndClose(err, true);
        return false;
    }
    return all;
}

bool CCommPort::GetSettings(CPortSettings& settings) {
    DCB dcb{};
    const bool read = IsOpen() && GetDCB(dcb);
    if (read)
        m_settings.TakeFrom(dcb);
    else
        m_settings.ClearLine();
    settings = m_settings;
    return read;
}

bool CCommPort::SaveProfile() {
    WriteProfileInt(K::DEBUG, K::VERBOSE, m_verbose ? 1 : 0);
    // Read from "Communication", kept under "Intelligence": the program has
    // always done so, and profiles in use carry it there.
    WriteProfileInt(K::INTELLIGENCE, K::AUTO_OPEN, m_autoOpen ? 1 : 0);
    // A closed port leaves the stored port and line settings as they were;
    // one whose line cannot be read stores its name alone.
    if (!IsOpen()) return true;
    CPortSettings now;
    GetSettings(now);
    now.SaveProfile();
    return true;
}
