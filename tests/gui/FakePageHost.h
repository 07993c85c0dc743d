// A window of the test's own for the pages: a real port and configuration,
// clock commands run at once (one at a time), and what the pages show kept
// (status texts, boxes, the transfers blocked and given back).
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <QByteArray>
#include <QComboBox>
#include <QObject>
#include <QPushButton>

#include "ClockState.h"
#include "ClockUi.h"
#include "CommPort.h"
#include "ControlIds.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "PageHost.h"
#include "PortSettings.h"
#include "SetupDlg.h"
#include "StringTable.h"

// What the port's reader receives (ReadStart(&reception)), handed to onData
// on the GUI thread in order; the reader never waits for it.
class CFakeReception : public CMessageTarget {
public:
    std::function<void(const QByteArray&)> onData;

    std::intptr_t Send(unsigned msg, std::uintptr_t count, std::intptr_t bytes) override {
        if (msg != WM_COMMDATA) return 0;
        const QByteArray copy(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count));
        // Dropped, not delivered, once the reception is gone.
        QMetaObject::invokeMethod(&m_gui, [this, copy] { if (onData) onData(copy); }, Qt::QueuedConnection);
        return 0;
    }
    void Post(unsigned, std::uintptr_t, std::intptr_t) override {}

private:
    QObject m_gui;
};

class CFakePageHost : public IPageHost {
public:
    CFakePageHost() { state.SetUi(&m_ui); }

    CCommPort* GetPort() override { return &port; }
    CClockState* GetClockState() override { return &state; }
    bool OpenPort(const CPortSettings& settings) override {
        opened.push_back(settings);
        std::string name;
        settings.GetPortName(name);
        if (!port.Open(name)) return false;
        port.ApplySettings(settings);
        return port.IsOpen();
    }
    bool RunClockCommand(unsigned busyText, const std::function<void()>& command) override {
        if (m_busy) return false;
        m_busy = true;
        if (busyText != 0) ShowStatus(busyText);
        command();
        m_busy = false;
        return true;
    }
    bool IsBusy() const override { return m_busy; }
    void BlockTransfers(bool block) override { blocks.push_back(block); }
    void ShowStatus(unsigned id) override { statuses.push_back(GetString(id)); }
    void ShowStatusText(const std::string& text) override { statuses.push_back(text); }
    void ShowMessage(const std::string& text) override { boxes.push_back(text); }

    // A setup present (a fresh one unless given), as after loading a file.
    bool LoadSetup(const CClockState& from = CClockState()) {
        std::stringstream record;
        from.Serialize(record);
        return state.Serialize(record) == TLoadResult::Loaded;
    }
    // The status line: the last text shown.
    std::string StatusText() const { return statuses.empty() ? std::string() : statuses.back(); }

    // Before the port: its reader may hand over blocks until the port is gone.
    CFakeReception reception;
    CCommPort port;
    CClockState state;
    std::vector<bool> blocks;
    // What each OpenPort was handed.
    std::vector<CPortSettings> opened;
    std::vector<std::string> statuses;
    // The pages' boxes and the clock layer's, in order.
    std::vector<std::string> boxes;

private:
    CClockMessageUi m_ui{[this](const std::string& text) { boxes.push_back(text); }};
    bool m_busy = false;
};

// The Comm Port page on a host of its own, shown. The profile (and any fake
// devices) come first: the host's port reads the profile as it is made.
struct TPortPage {
    CFakePageHost host;
    CSetupDlg page;

    TPortPage() {
        page.SetSheet(&host);
        page.show();
    }
    QComboBox* Combo(unsigned id) const { return qobject_cast<QComboBox*>(page.FindControl(static_cast<int>(id))); }
    // "Open Comm Port" with what the combos show.
    void Open() const { qobject_cast<QPushButton*>(page.FindControl(IDC_OPEN_PORT))->click(); }
};
