// The main window: four pages on tabs, the File and Help menus, the status
// line under it, and the one port and the one configuration the pages use.
// The port's reports arrive as typed signals of its adapter (CPortEvents);
// WireEvents connects them, and the pages' own signals, in one place. The
// pages reach the window only through IPageHost.
//
// In parts: the window and its wiring (ClockPropSheet.cpp), the menu and the
// status line (SheetMenu.cpp), the file commands (SheetCommands.cpp). The
// transfers with the clock (CTransferController), Help (CManualHelp) and the
// window's place (CWindowPlacement) are classes of their own.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "CommonPage.h"
#include "DeviceWatch.h"
#include "ConsoleDlg.h"
#include "FloatStatus.h"
#include "LocationDlg.h"
#include "ManualHelp.h"
#include "PageHost.h"
#include "PortEvents.h"
#include "PortReporter.h"
#include "QtClockUi.h"
#include "SetupDlg.h"
#include "TransferController.h"

class CCompareDlg;
class QAction;
class QMenu;
class QMenuBar;
class QSocketNotifier;
class QTabWidget;

class CClockPropSheet : public QDialog, public IPageHost {
public:
    // captionId: the window title's string; selectPage: the page shown first.
    CClockPropSheet(unsigned captionId, QWidget* parent, int selectPage);
    ~CClockPropSheet() override;

    // IPageHost.
    CCommPort* GetPort() override { return &m_port; }
    CClockState* GetClockState() override { return &m_clockState; }
    bool OpenPort(const CPortSettings& settings) override;
    bool RunClockCommand(unsigned busyText, const std::function<void()>& command) override;
    bool IsBusy() const override { return m_busy; }
    void BlockTransfers(bool block) override;
    void ShowStatus(unsigned id) override { OnStatusText(id); }
    void ShowStatusText(const std::string& text) override { SetStatus(text); }
    void ShowMessage(const std::string& text) override { m_ui.ShowMessage(text); }

    // The port's reports arrive here; the port and the pages' changes go out
    // from here to the menu and the pages.
    CPortEvents* GetEvents() { return &m_events; }
    // The message box and countdowns of this window.
    CQtClockUi& GetUi() { return m_ui; }

    // The file parts of the File menu's commands, after their dialogs. Each
    // shows what the command shows and returns true when the file was handled.
    bool LoadFromFile(const QString& path);
    bool SaveToFile(const QString& path);
    bool DumpToFile(const QString& path);
    // Opens the Compare dialog for the file against the setup shown; false
    // (told) when the file cannot be loaded. The dialog stays open until closed.
    bool CompareWithFile(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Handlers, on the GUI thread.
    void OnCommStatus(int code, int count);
    void OnStatusText(unsigned id);
    void OnConsoleShow(bool shown);
    void OnPortStateChanged();
    void OnClockStateChanged();
    // The port's device is gone (the reader found it, a command's I/O failed
    // so, or udev told of its removal): the status line says so and the
    // port is closed, once the current handling is over.
    void OnDeviceGone();
    // A menu item (or a submenu, by its position) highlighted.
    void OnMenuSelect(unsigned id);

    // Menu commands of the window itself; the transfers and Help have theirs.
    void OnExit();
    void OnLoadFromFile();
    void OnSaveToFile();
    void OnDump();
    void OnCompare();
    void OnAbout();

    void WireEvents();
    void StartLineTrace();
    void BuildMenu();
    QAction* AddCommand(QMenu* menu, const char* text, unsigned id, std::function<void()> handler);
    void WatchMenu(QMenu* menu);
    // The menu by command id; EnableMenuCommand returns the previous state.
    QAction* GetMenuAction(unsigned id) const;
    bool EnableMenuCommand(unsigned id, bool enable);
    // "From Comm Port" and "To Comm Port": set now, or kept for later while
    // the transfers are blocked.
    void EnableTransfer(unsigned id, bool enable);
    // toolTip: more than the line says (the whole text when empty).
    void SetStatus(const std::string& text, const std::string& toolTip = std::string());
    QString AskFileName(bool save, const QString& suffix);
    void OnPageChanged(int index);
    // The Comm Port page's state line, once the current handling is over.
    void QueuePortStateLine();
    // The open port's device is the one udev is asked about, and the one
    // looked at for a hang-up.
    void WatchOpenDevice();
    // A look at the open device for a hang-up, taking nothing from it.
    void CheckHangUp();

    // Qt plumbing first: it outlives the members below, which may report to
    // it while they are destroyed.
    CPortEvents m_events;
    CQtClockUi m_ui{this};
    QMenuBar* m_menuBar = nullptr;
    QTabWidget* m_tabs = nullptr;
    std::map<unsigned, QAction*> m_actions;
    CCommPage* m_activePage = nullptr;  // the page whose tab is current
    bool m_busy = false;
    bool m_wasShown = false;
    // While a page blocks the transfers: the states they get back.
    bool m_transfersBlocked = false;
    std::map<unsigned, bool> m_blockedStates;

    CSetupDlg m_setupPage;
    CLocationDlg m_locationPage;
    CConsoleDlg m_consolePage;
    CCommonPage m_commonPage;
    QPointer<CCompareDlg> m_compareDlg;
    // Made with the window: the transfers below report to it.
    std::unique_ptr<CFloatStatus> m_pFloatStatus = std::make_unique<CFloatStatus>();
    // A failed open's report into commport_err.txt; the port's error boxes
    // and a newly opened port go through the adapter.
    CErrorFileReporter m_portReporter;
    CCommPort m_port;
    CClockState m_clockState;
    // udev's word of a removed device, while the port is open on one.
    CDeviceWatch m_deviceWatch;
    QSocketNotifier* m_watchNotifier = nullptr;
    // Where udev tells nothing (no udev, a pseudo-terminal, a board's UART,
    // a network port): the open device looked at now and then.
    QTimer m_hangUpTimer;
    // OnDeviceGone's close is queued: the same loss is not told twice.
    bool m_goneQueued = false;
    CTransferController m_transfers{*this, m_ui, *m_pFloatStatus, m_commonPage, m_events};
    CManualHelp m_help{this, [this](const std::string& text) { ShowMessage(text); }};
};
