// Shared helpers for the tests: a private profile per test, captured profile
// notices, temporary folders. None installs a pump or sleep hook.
#pragma once

#include <string>
#include <vector>

// Points the profile at a fresh file in a temporary directory for the
// lifetime of the object.
class CTestProfile {
public:
    CTestProfile();
    ~CTestProfile();
    const std::string& Path() const { return m_path; }
    const std::string& Dir() const { return m_dir; }
private:
    std::string m_dir;
    std::string m_path;
};

// Captures the profile's notices (a clamped delay) instead of printing them.
class CCapturedNotices {
public:
    CCapturedNotices();
    ~CCapturedNotices();
    std::vector<std::string> notices;
};

// A fresh temporary directory, removed with its contents at destruction.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
private:
    std::string m_path;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
