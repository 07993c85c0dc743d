#include "Win32Err.h"

#include <cerrno>
#include <cstring>

namespace {
std::string SystemText(int code) {
    if (code == 0) return std::string();
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    return text ? std::string(text) + "\n" : std::string();
}
}  // namespace

CWin32Err::CWin32Err(const std::string& what) : m_code(errno), m_what(what) {
    m_message = SystemText(m_code);
}

CWin32Err::CWin32Err(const std::string& what, int code) : m_code(code), m_what(what) {
    m_message = SystemText(m_code);
}

bool CWin32Err::GetText(std::string& text) const {
    text = m_message;
    return m_code != 0;
}

std::string CWin32Err::GetDiagnostic() const { return m_what + "\n" + m_message; }

void CWin32Err::AppendHint(const std::string& hint) {
    if (!m_message.empty() && m_message.back() != '\n') m_message += '\n';
    m_message += hint;
    if (!hint.empty() && hint.back() != '\n') m_message += '\n';
}
