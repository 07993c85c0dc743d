// A setup file that could not be opened, read or written. Load, save and dump
// throw it; the user sees "Error Opening File!" or "Error Saving File!".
#pragma once

#include <stdexcept>
#include <string>

class CFileError : public std::runtime_error {
public:
    enum TKind {
        OPEN_FAILED,   // the file could not be opened
        READ_FAILED,   // unreadable, or too short to hold a setup
        WRITE_FAILED,  // the new file could not be written in full
    };

    // reason is the system's text (strerror) or a description of what is wrong.
    CFileError(TKind kind, const std::string& reason, const std::string& path = std::string())
        : std::runtime_error(reason), m_kind(kind), m_path(path) {}

    TKind GetKind() const { return m_kind; }
    const std::string& GetPath() const { return m_path; }
    std::string GetReason() const { return what(); }

private:
    TKind m_kind;
    std::string m_path;
};
