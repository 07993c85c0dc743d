#include "SimPort.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "PortCatalogue.h"
#include "Profile.h"
#include "SimClock.h"
#include "SimInProcessLine.h"
#include "TermiosLine.h"

namespace {

constexpr char kDataDirName[] = "tarvel";
constexpr char kEepromFileName[] = "sim-eeprom.hcs";

void Say(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", GetAppName().c_str(), text.c_str());
    std::fflush(stderr);
}

bool SameRecord(const TClockConfig& a, const TClockConfig& b) {
    return std::memcmp(ConfigBytes(a), ConfigBytes(b), CLOCK_CONFIG_SIZE) == 0;
}

enum class TFileState { Missing, Loaded, Unusable };

// Takes only a whole setup file: the exact size, revision and signature.
// Checked here rather than by the loader, which would ask the user about a
// wrong signature.
TFileState ReadEepromFile(const std::string& path, TClockConfig& config, std::string& reason) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return TFileState::Missing;
        reason = std::strerror(errno);
        return TFileState::Unusable;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        return TFileState::Unusable;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = std::strerror(errno ? errno : EIO);
        return TFileState::Unusable;
    }
    std::vector<char> bytes(CClockState::FILE_SIZE + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        reason = "it could not be read";
        return TFileState::Unusable;
    }
    const std::size_t size = static_cast<std::size_t>(in.gcount());
    if (size != CClockState::FILE_SIZE) {
        reason = size > CClockState::FILE_SIZE ? "it is too long for a clock setup"
                                               : "it is too short for a clock setup";
        return TFileState::Unusable;
    }
    const unsigned char revision[4] = {CClockState::FILE_REVISION & 0xFF, 0, 0, 0};
    if (std::memcmp(bytes.data(), revision, sizeof revision) != 0 ||
        std::memcmp(bytes.data() + 4, CClockState::FILE_SIGNATURE, CClockState::FILE_SIGNATURE_SIZE) != 0) {
        reason = "it is not a clock setup file";
        return TFileState::Unusable;
    }
    std::memcpy(ConfigBytes(config), bytes.data() + 4 + CClockState::FILE_SIGNATURE_SIZE, CLOCK_CONFIG_SIZE);
    return TFileState::Loaded;
}

// Renames path to path.bad (or .bad.1, .bad.2, ... when that is taken).
bool MoveAside(const std::string& path, std::string& aside) {
    for (int n = 0; n < 100; ++n) {
        aside = path + ".bad" + (n ? "." + std::to_string(n) : std::string());
        struct stat st {};
        if (::lstat(aside.c_str(), &st) == 0) continue;
        return ::rename(path.c_str(), aside.c_str()) == 0;
    }
    errno = EEXIST;
    return false;
}

// Creates the missing directories of dir, private to the user.
bool MakeDirectories(const std::string& dir) {
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// The process's clock and what is known about its file.
class CSharedSim {
public:
    ~CSharedSim() { Shutdown(); }

    CSimClock* GetClock(int& err) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_clock) return m_clock.get();
        auto clock = std::make_unique<CSimClock>();
        PrepareFile(*clock);
        clock->SetEepromStoredHandler([this](const TClockConfig& config) { Save(config); });
        if (!clock->StartInProcess()) {
            err = errno ? errno : EIO;
            Say("the simulated clock could not start: " + clock->LastError());
            return nullptr;
        }
        m_clock = std::move(clock);
        return m_clock.get();
    }

    void Shutdown() {
        std::unique_ptr<CSimClock> clock;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            clock = std::move(m_clock);
        }
        if (!clock) return;
        // Stopped first, so no store can come in after the last save.
        clock->Stop();
        const TClockConfig eeprom = clock->GetEeprom();
        std::lock_guard<std::mutex> lock(m_saveMutex);
        if (!m_haveOnDisk || !SameRecord(eeprom, m_onDisk)) SaveLocked(eeprom);
    }

    // Writes through write and waits (at most timeoutMs) until the running
    // clock has dealt with the bytes.
    ssize_t WriteAnswered(const std::function<ssize_t()>& write, int timeoutMs) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::uint64_t before = m_clock ? m_clock->BytesAnswered() : 0;
        const ssize_t n = write();
        if (n > 0 && m_clock) m_clock->WaitAnswered(before + static_cast<std::uint64_t>(n), timeoutMs);
        return n;
    }

private:
    // Starts the clock from its file, or from the factory setup.
    void PrepareFile(CSimClock& clock) {
        std::lock_guard<std::mutex> lock(m_saveMutex);
        m_path = CSimPort::EepromPath();
        m_keep = !m_path.empty();
        m_haveOnDisk = false;
        if (!m_keep) {
            Say("no home directory: the simulated clock's EEPROM is not kept");
            return;
        }
        TClockConfig config{};
        std::string reason;
        switch (ReadEepromFile(m_path, config, reason)) {
        case TFileState::Loaded:
            clock.SetEeprom(config);
            clock.SetActive(config);
            m_onDisk = config;
            m_haveOnDisk = true;
            break;
        case TFileState::Missing:
            break;
        case TFileState::Unusable: {
            std::string aside;
            if (MoveAside(m_path, aside)) {
                Say("the simulated clock's EEPROM file " + m_path + " is unusable (" + reason + "); kept as " +
                    aside + ", starting from the factory setup");
            } else {
                Say("the simulated clock's EEPROM file " + m_path + " is unusable (" + reason +
                    ") and could not be renamed (" + std::strerror(errno) +
                    "); starting from the factory setup and leaving the file alone");
                m_keep = false;
            }
            break;
        }
        }
    }

    void Save(const TClockConfig& config) {
        std::lock_guard<std::mutex> lock(m_saveMutex);
        SaveLocked(config);
    }

    void SaveLocked(const TClockConfig& config) {
        if (!m_keep) return;
        const std::size_t slash = m_path.rfind('/');
        if (slash != std::string::npos && slash > 0 && !MakeDirectories(m_path.substr(0, slash))) {
            Say("cannot create the directory of " + m_path + ": " + std::strerror(errno));
            return;
        }
        CClockState state;
        *state.GetConfig() = config;
        try {
            SaveConfigFile(state, m_path);
            m_onDisk = config;
            m_haveOnDisk = true;
        } catch (const CFileError& e) {
            Say("cannot save the simulated clock's EEPROM to " + m_path + ": " + e.GetReason());
        }
    }

    std::mutex m_mutex;  // the clock
    std::unique_ptr<CSimClock> m_clock;
    std::mutex m_saveMutex;  // the file and what it holds
    std::string m_path;
    bool m_keep = false;        // the file may be written
    bool m_haveOnDisk = false;  // m_onDisk is what the file holds
    TClockConfig m_onDisk{};
};

CSharedSim& Shared() {
    static CSharedSim shared;
    return shared;
}

using TEnd = CMemoryLine::TEnd;

template <typename T>
T Closed(T failed) {
    errno = EBADF;
    return failed;
}

}  // namespace

std::shared_ptr<CSimInProcessLine> CSimPort::Line() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_line;
}

bool CSimPort::Open(const std::string& /*path*/) {
    Close();
    int err = 0;
    CSimClock* clock = Shared().GetClock(err);
    if (!clock) {
        errno = err;
        return false;
    }
    std::shared_ptr<CSimInProcessLine> line = clock->InProcessLine();
    if (!line) {
        errno = ENODEV;
        return false;
    }
    if (!line->Hold()) {
        errno = EBUSY;
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_line = std::move(line);
    return true;
}

void CSimPort::Close() {
    std::shared_ptr<CSimInProcessLine> line;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        line = std::move(m_line);
    }
    if (!line) return;
    line->Bytes().Discard(TEnd::Near);
    line->Bytes().Discard(TEnd::Far);
    line->Release();
}

bool CSimPort::GetLineState(TLineSettings& settings) {
    const auto line = Line();
    if (!line) return Closed(false);
    settings = line->Settings();
    return true;
}

bool CSimPort::SetLineState(const TLineSettings& settings) {
    const auto line = Line();
    if (!line) return Closed(false);
    // What the termios device took on the pseudo-terminal, this line takes.
    speed_t speed;
    if (!RateToSpeed(settings.rate, speed) || !LineSettingsPossible(settings)) {
        errno = EINVAL;
        return false;
    }
    line->SetSettings(settings);
    return true;
}

ssize_t CSimPort::Read(unsigned char* buf, std::size_t size) {
    const auto line = Line();
    return line ? line->Bytes().Read(TEnd::Near, buf, size) : Closed<ssize_t>(-1);
}

ssize_t CSimPort::Write(const unsigned char* buf, std::size_t size) {
    const auto line = Line();
    if (!line) return Closed<ssize_t>(-1);
    // Generous: only a clock that stopped serving makes it run out.
    constexpr int kAnswerWaitMs = 5000;
    return Shared().WriteAnswered([&] { return line->Bytes().Write(TEnd::Near, buf, size); }, kAnswerWaitMs);
}

TDeviceEvents CSimPort::Wait(TDeviceEvents wanted, int timeoutMs) {
    const auto line = Line();
    return line ? line->Bytes().Wait(TEnd::Near, wanted, timeoutMs) : Closed(TDeviceEvents::Failed);
}

void CSimPort::InterruptWait() {
    if (const auto line = Line()) line->Bytes().InterruptWait(TEnd::Near);
}

bool CSimPort::Drain(unsigned stallMs) {
    const auto line = Line();
    return line ? line->Bytes().WaitTaken(TEnd::Far, stallMs) : Closed(false);
}

bool CSimPort::Purge(bool input, bool output) {
    const auto line = Line();
    if (!line) return Closed(false);
    if (input) line->Bytes().Discard(TEnd::Near);
    if (output) line->Bytes().Discard(TEnd::Far);
    return true;
}

bool CSimPort::SetBreak(bool) {
    // Taken unseen, as by a pseudo-terminal: the clock knows a break by the
    // quiet that follows it.
    return Line() ? true : Closed(false);
}

bool CSimPort::QueuedInput(unsigned& count) {
    const auto line = Line();
    if (!line) return Closed(false);
    count = static_cast<unsigned>(line->Bytes().Queued(TEnd::Near));
    return true;
}

bool CSimPort::GetErrorCounts(TErrorCounts& counts) {
    if (!Line()) return Closed(false);
    counts = TErrorCounts{};
    return true;
}

CSimClock* CSimPort::GetClock() {
    int err = 0;
    return Shared().GetClock(err);
}

void CSimPort::Shutdown() { Shared().Shutdown(); }

std::string CSimPort::EepromPath() {
    std::string base;
    // Relative paths in the variable are to be ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
        base = data;
    } else {
        std::string home;
        if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
            home = h;
        } else {
            passwd pw{};
            passwd* found = nullptr;
            std::vector<char> buf(4096);
            if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
                found->pw_dir[0] == '/')
                home = found->pw_dir;
        }
        if (home.empty()) return std::string();
        base = home + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/" + kDataDirName + "/" + kEepromFileName;
}

void RegisterSimPort() {
    CPortCatalogue::RegisterVirtualPort(CSimPort::NAME, CSimPort::DESCRIPTION,
                                        [] { return std::make_shared<CSimPort>(); });
}
