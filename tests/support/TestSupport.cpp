#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Profile.h"

CTempDir::CTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvel-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

CTempDir::~CTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

CTestProfile::CTestProfile() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvel-profile-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_dir = tmpl;
    m_path = m_dir + "/tarvel.INI";
    SetProfilePath(m_path);
}

CTestProfile::~CTestProfile() {
    SetProfilePath("");
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

CCapturedNotices::CCapturedNotices() {
    SetProfileNoticeSink([this](const std::string& text) { notices.push_back(text); });
}

CCapturedNotices::~CCapturedNotices() { SetProfileNoticeSink(nullptr); }

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
