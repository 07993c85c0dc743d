// The main window: four pages on tabs, the File and Help menus, the status
// line under it, and the one port and the one configuration the pages use.
// The port's reports arrive as typed signals of its adapter (CPortEvents);
// WireEvents connects them, and the pages' own signals, in one place. The
// pages reach the window only through IPageHost.
//
// In parts: the window and its wiring (ClockPropSheet.cpp), the menu, the
// status line and Help (SheetMenu.cpp), the commands that talk to the clock
// or handle files (SheetCommands.cpp).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QUrl>

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
#include "PageHost.h"
#include "PortEvents.h"
#include "PortReporter.h"
#include "QtClockUi.h"
#include "SetupDlg.h"

class CCompareDlg;
class QAction;
class QMenu;
class QMenuBar;
class QSocketNotifier;
class QTabWidget;
class QTextBrowser;

class CClockPropSheet : public QDialog, public IPageHost {
public:
    // captionId: the window title's string; selectPage: the page shown first.
    CClockPropSheet(unsigned captionId, QWidget* parent, int selectPage);
    ~CClockPropSheet() override;

    // IPageHost.
    CCommPort* GetPort() override { return &m_port; }
    CClockState* GetClockState() override { return &m_clockState; }
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

    // Menu commands.
    void OnExit();
    void OnLoadFromCommPort();
    void OnLoadFromFile();
    void OnSaveToCommPort();
    void OnSaveToFile();
    void OnDump();
    void OnCompare();
    void OnHelpContents();
    void OnHelpSearch();
    void OnWebSite();
    void OnAbout();

    // The file parts of the commands, after their dialogs. Each shows what
    // the command shows and returns true when the file was handled.
    bool LoadFromFile(const QString& path);
    bool SaveToFile(const QString& path);
    bool DumpToFile(const QString& path);
    // Opens the Compare dialog for the file against the setup shown; false
    // (told) when the file cannot be loaded. The dialog stays open until closed.
    bool CompareWithFile(const QString& path);
    CCompareDlg* GetCompareDialog() const;

    // The menu by command id; EnableMenuCommand returns the previous state.
    QAction* GetMenuAction(unsigned id) const;
    bool IsMenuCommandEnabled(unsigned id) const;
    bool EnableMenuCommand(unsigned id, bool enable);

    std::string GetStatusText() const { return m_statusText; }
    // The status line's tool tip: the whole text, or more than it says.
    QString GetStatusToolTip() const;
    CFloatStatus* GetFloatStatus() const { return m_pFloatStatus.get(); }
    QTabWidget* GetTabs() const { return m_tabs; }
    QMenuBar* GetMenuBar() const { return m_menuBar; }
    CSetupDlg& GetSetupPage() { return m_setupPage; }
    CLocationDlg& GetLocationPage() { return m_locationPage; }
    CConsoleDlg& GetConsolePage() { return m_consolePage; }
    CCommonPage& GetCommonPage() { return m_commonPage; }

    // The manual's start page as a file: next to the installed program, else
    // where a build-tree run or a test names it. Empty when there is none.
    static QString FindManual();
    // Where the installed manual's start page belongs (for the message when
    // it is missing).
    static QString InstalledManualPath();
    // The copy of the manual built into the program, shown in a window of
    // its own when no installed copy is found.
    static const char* const kBuiltInManual;
    // That window's browser while it is open, else null.
    QTextBrowser* GetManualBrowser() const;
    // Hands an address to the desktop; false when nothing took it. Tests
    // replace it; an empty opener restores the desktop's.
    using UrlOpener = std::function<bool(const QUrl&)>;
    static void SetUrlOpener(UrlOpener opener);
    static const char* const kWebAddress;

    // The window's place and size from the profile (section "Window"), when
    // they put it on a screen; false (and the default place) otherwise.
    bool RestoreWindowPlacement();
    void SaveWindowPlacement();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void WireEvents();
    void StartLineTrace();
    // Before a write: the clock's setup kept (unless the profile says not
    // to). False when nothing is to be sent; the status line says why.
    bool BackUpBeforeWrite(std::string& backupPath);
    void BuildMenu();
    QAction* AddCommand(QMenu* menu, const char* text, unsigned id, void (CClockPropSheet::*handler)());
    void WatchMenu(QMenu* menu);
    // "From Comm Port" and "To Comm Port": set now, or kept for later while
    // the transfers are blocked.
    void EnableTransfer(unsigned id, bool enable);
    // toolTip: more than the line says (the whole text when empty).
    void SetStatus(const std::string& text, const std::string& toolTip = std::string());
    // A transfer that failed: the status line and a box with the text, and
    // the clock's reason (a sentence) under it.
    void ShowClockFailure(unsigned textId, const std::string& detail);
    QString AskFileName(bool save, const QString& suffix);
    void OnPageChanged(int index);
    void OpenManual(const QString& fragment);
    bool ShowBuiltInManual(const QString& fragment);
    // The Comm Port page's state line, once the current handling is over.
    void QueuePortStateLine();
    // The open port's device is the one udev is asked about.
    void WatchOpenDevice();
    // Whether the desktop has a program for web pages; true when it cannot
    // be told in time.
    static bool HasHtmlHandler();
    // The installed manual in the desktop's browser; false (told) if none took it.
    bool OpenInBrowser(const QString& manual, const QString& fragment);

    // Qt plumbing first: it outlives the members below, which may report to
    // it while they are destroyed.
    CPortEvents m_events;
    CQtClockUi m_ui{this};
    QMenuBar* m_menuBar = nullptr;
    QPointer<QDialog> m_manualDlg;
    QTabWidget* m_tabs = nullptr;
    std::map<unsigned, QAction*> m_actions;
    std::string m_statusText;
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
    std::unique_ptr<CFloatStatus> m_pFloatStatus;
    // A failed open's report into commport_err.txt; the port's error boxes
    // and a newly opened port go through the adapter.
    CErrorFileReporter m_portReporter;
    CCommPort m_port;
    CClockState m_clockState;
    // udev's word of a removed device, while the port is open on one.
    CDeviceWatch m_deviceWatch;
    QSocketNotifier* m_watchNotifier = nullptr;
};
