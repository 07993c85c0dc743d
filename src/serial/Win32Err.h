// A failed system call: its name, errno taken at once, and the system's text.
#pragma once

#include <string>

class CWin32Err {
public:
    // Captures errno immediately: construct it right after the failing call.
    explicit CWin32Err(const std::string& what);
    // For failures the program detects itself (no errno): code 0.
    CWin32Err(const std::string& what, int code);

    // The call name, a line feed, then the system text; true when the code is not 0.
    bool GetText(std::string& text) const;
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
