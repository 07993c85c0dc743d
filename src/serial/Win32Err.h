// A failed system call: its name, errno taken at once, the system's text and
// what the user can do about it. The name is for the trace and the report
// file only; what the user reads is the system's text and the hints.
#pragma once

#include <string>

class CWin32Err {
public:
    // Captures errno immediately: construct it right after the failing call.
    explicit CWin32Err(const std::string& what);
    // For failures the program detects itself (no errno): code 0, with a hint
    // that says what went wrong.
    CWin32Err(const std::string& what, int code);

    // What the user reads: the system text, then each hint, a line each
    // (never the call's name); true when the code is not 0.
    bool GetText(std::string& text) const;
    // For the trace and the report file: the call's name, a line feed, then
    // what GetText gives.
    std::string GetDiagnostic() const;
    int GetCode() const { return m_code; }
    const std::string& GetWhat() const { return m_what; }
    const std::string& GetMessage() const { return m_message; }
    // Adds a line after the system text (how to get access to a device, say).
    void AppendHint(const std::string& hint);

private:
    int m_code;
    std::string m_message;
    std::string m_what;
};
