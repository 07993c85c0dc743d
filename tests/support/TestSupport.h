// Shared helpers for the tests: a private profile per test, captured prompts.
#pragma once

#include <string>
#include <vector>

// Points the profile at a fresh file in a temporary directory for the
// lifetime of the object, and restores the default hooks afterwards.
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

// Captures message boxes and beeps instead of showing them.
class CCapturedPrompts {
public:
    CCapturedPrompts();
    ~CCapturedPrompts();
    std::vector<std::string> boxes;
    int beeps = 0;
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
