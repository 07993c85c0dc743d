// Setup files and dumps on disk, for the menu commands and tarvelctl.
// Every failure throws CFileError; a failed save or dump leaves the old file
// as it was.
#pragma once

#include <string>

#include "ClockState.h"

// Loads a setup file into state. Throws CFileError (OPEN_FAILED when the file
// cannot be opened, READ_FAILED when it cannot be read or is cut short);
// returns Refused, after telling the user, for a wrong signature or revision.
TLoadResult LoadConfigFile(CClockState& state, const std::string& path);

// Saves the setup: the new file replaces the old one only once it is complete.
void SaveConfigFile(const CClockState& state, const std::string& path);

// Writes the text dump, created or replaced the same way.
void DumpConfigFile(const CClockState& state, const std::string& path);

// Replaces path with bytes: written to a temporary file in the same directory,
// synced, then renamed over path. A symbolic link is followed, so the file it
// names is replaced. On failure the temporary is removed and path untouched.
// A path naming a device or pipe is written into directly.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
