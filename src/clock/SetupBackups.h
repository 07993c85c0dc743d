// The clock's own setups, kept before a write overwrites them, so a write can
// be undone: one setup file per backup in the backups folder
// ($XDG_DATA_HOME/tarvel/backups, else ~/.local/share/tarvel/backups), named
// by port, model and time (UTC, to the millisecond), for example
//
//   _dev_ttyUSB0@K201@20250301T101502.123Z.hcs
//
// The port is written so any name gives one safe file name and can be read
// back: '/' becomes '_', and '_', '@', '%' and every byte that is not a
// letter, digit, '.' or '-' becomes %XX. The newest KEEP_PER_PORT backups of
// each port are kept; older ones are removed when a new one is kept.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ClockConfig.h"
#include "ClockResult.h"

class CClockState;
class CCommPort;

struct TBackupEntry {
    std::string path;
    std::string port;     // as the user named it
    std::string model;    // e.g. "K201"
    std::string stamp;    // "20250301T101502.123Z": sorts by time
    std::string when;     // the local time, "2025-03-01 11:15:02"
    std::string portKey;  // the port as it is written in the name
};

class CSetupBackups {
public:
    static constexpr std::size_t KEEP_PER_PORT = 50;

    // folder: where the backups are; empty for the default folder.
    explicit CSetupBackups(std::string folder = std::string());

    // The default folder; empty when the environment names none.
    static std::string DefaultFolder();
    const std::string& Folder() const { return m_folder; }

    // Keeps record as the newest backup of port (creating the folder, mode
    // 0700), then removes the port's backups beyond KEEP_PER_PORT. The file
    // is complete or absent (see WriteFileAtomically). False with a reason
    // for the user when it could not be kept.
    bool Keep(const std::string& port, const std::string& model, const TClockConfig& record, std::string& path,
              std::string& reason);

    // The backups, newest first; only those of port when it is not empty.
    // Files whose names are not a backup's are left out. A folder not made
    // yet holds none; one that cannot be read sets error, when given, to why.
    std::vector<TBackupEntry> List(const std::string& port = std::string(), std::string* error = nullptr) const;

    static std::string EncodePort(const std::string& port);
    // False for a name that was shortened (an overlong port) or is malformed.
    static bool DecodePort(const std::string& key, std::string& port);
    // Reads a backup's file name; false when it is not one.
    static bool ParseName(const std::string& name, TBackupEntry& entry);

private:
    // The folder exists, or was made, and belongs to this user.
    bool MakeFolder(std::string& reason) const;
    void Prune(const std::string& port) const;

    std::string m_folder;
};

// What was done before a write.
enum class TPreWrite {
    Proceed,      // the clock's setup differs (or force): kept, write on
    AlreadyHeld,  // the clock holds exactly the setup to write: send nothing
    ReadFailed,   // the clock's setup could not be read: send nothing
    KeepFailed,   // it was read but could not be kept: send nothing
};

struct TPreWriteResult {
    TPreWrite outcome = TPreWrite::ReadFailed;
    std::string backupPath;  // Proceed: where the clock's setup was kept
    std::string reason;      // KeepFailed: why
    TClockResult readFailure;  // ReadFailed: why
};

// Reads the setup stored in the clock (state's model and UI; state's record
// is left alone), compares it with toWrite and keeps it as a backup of
// portName unless the two are equal and force is not set. clockRead: the
// clock's stored setup as read from it moments before; the clock is then not
// read again.
TPreWriteResult PrepareWrite(CClockState& state, CCommPort& port, const std::string& portName,
                             const TClockConfig& toWrite, bool force, CSetupBackups& backups,
                             const TClockConfig* clockRead = nullptr);
