// Helpers for the GUI tests: a private profile that never opens a real port,
// and a pseudo-terminal whose slave the port can open.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <QTreeWidget>

#include <string>

#include "Profile.h"
#include "TestSupport.h"

// A fresh profile with "AutoOpen" off, so constructing the port touches no
// device, and a data folder of its own, so backups kept by writes to a clock
// stay out of the user's.
class CGuiProfile : public CTestProfile {
public:
    CGuiProfile() {
        WriteProfileInt("Communication", "AutoOpen", 0);
        WriteProfileInt("Communication", "ReadTimeOut", 200);
        WriteProfileInt("Communication", "WriteTimeOut", 200);
        if (const char* old = ::getenv("XDG_DATA_HOME")) m_oldData = old, m_hadData = true;
        ::setenv("XDG_DATA_HOME", m_data.Path().c_str(), 1);
    }
    ~CGuiProfile() {
        if (m_hadData) ::setenv("XDG_DATA_HOME", m_oldData.c_str(), 1);
        else ::unsetenv("XDG_DATA_HOME");
    }
    std::string DataFolder() const { return m_data.Path(); }

private:
    CTempDir m_data;
    std::string m_oldData;
    bool m_hadData = false;
};

// A key of the profile's "Communication" section, "<none>" when absent.
inline std::string StoredComm(const char* key) { return GetProfileString("Communication", key, "<none>"); }

// The master side stays with the test; the slave keeps one descriptor open
// so the line never hangs up between the port's opens.
class CPseudoTerminal {
public:
    CPseudoTerminal() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
        char name[128];
        if (::ptsname_r(m_master, name, sizeof name) != 0) return;
        m_slaveName = name;
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        if (m_slave >= 0 && ::tcgetattr(m_slave, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(m_slave, TCSANOW, &raw);
        }
    }
    ~CPseudoTerminal() {
        if (m_slave >= 0) ::close(m_slave);
        if (m_master >= 0) ::close(m_master);
    }
    bool IsReady() const { return m_master >= 0 && m_slave >= 0; }
    const std::string& SlaveName() const { return m_slaveName; }
    bool WriteToPort(const std::string& bytes) {
        return ::write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Bytes waiting for the port, taken by nobody yet.
    int Queued() const {
        int count = -1;
        return ::ioctl(m_slave, FIONREAD, &count) == 0 ? count : -1;
    }
    // What the port wrote, until want bytes came or none came for 2 s.
    std::string Receive(std::size_t want) {
        std::string got;
        char buf[256];
        pollfd p{m_master, POLLIN, 0};
        while (got.size() < want && ::poll(&p, 1, 2000) > 0) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

// The desktop's answer to which program shows web pages: a stand-in for
// xdg-mime first on the PATH that gives answer, or (answer null) no xdg-mime
// at all.
class CDesktopBrowser {
public:
    explicit CDesktopBrowser(const char* answer) : m_oldPath(qgetenv("PATH")) {
        if (answer) {
            const std::string script = m_dir.File("xdg-mime");
            WriteWholeFile(script, std::string("#!/bin/sh\necho '") + answer + "'\n");
            ::chmod(script.c_str(), 0700);
        }
        qputenv("PATH", QByteArray::fromStdString(m_dir.Path()) + (answer ? ":" + m_oldPath : QByteArray()));
    }
    ~CDesktopBrowser() { qputenv("PATH", m_oldPath); }

private:
    CTempDir m_dir;
    QByteArray m_oldPath;
};

// Dispatches events until done() holds or the generous limit passes.
template <typename TDone>
bool PumpUntil(TDone done, int limitMs = 5000) {
    return QTest::qWaitFor(done, limitMs);
}

// The Clock Setup tree's entry of a setup item (its number is the entry's
// user data), or null.
inline QTreeWidgetItem* FindItem(QTreeWidget* tree, int item) {
    for (int b = 0; b < tree->topLevelItemCount(); ++b)
        for (int i = 0; i < tree->topLevelItem(b)->childCount(); ++i)
            if (tree->topLevelItem(b)->child(i)->data(0, Qt::UserRole).toInt() == item)
                return tree->topLevelItem(b)->child(i);
    return nullptr;
}
