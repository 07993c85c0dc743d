// The main window: four pages on tabs, the File and Help menus, the status
// line under it, and the one port and the one configuration the pages use.
// It is the hub of the private messages: port status into the status line,
// port and configuration changes into the menu and on to the pages.
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "CommonPage.h"
#include "ConsoleDlg.h"
#include "FloatStatus.h"
#include "LocationDlg.h"
#include "PortReporter.h"
#include "QtMessageTarget.h"
#include "SetupDlg.h"

class QAction;
class QMenu;
class QMenuBar;
class QTabWidget;

class CClockPropSheet : public QDialog {
public:
    // captionId: the window title's string; selectPage: the page shown first.
    CClockPropSheet(unsigned captionId, QWidget* parent, int selectPage);
    ~CClockPropSheet() override;

    CCommPort* GetPort() { return &m_port; }
    CClockState* GetClockState() { return &m_clockState; }
    // Where the port and the pages send the sheet's messages.
    CMessageTarget* GetTarget() { return &m_target; }

    // Message handlers, on the GUI thread.
    void OnCommStatus(std::uintptr_t code, std::intptr_t value);
    void OnStatusText(unsigned id);
    void OnConsoleShow(bool shown);
    void OnPortStateChanged(std::uintptr_t wParam, std::intptr_t lParam);
    void OnClockStateChanged(std::uintptr_t wParam, std::intptr_t lParam);
    // A menu item (or a submenu, by its position) highlighted.
    void OnMenuSelect(unsigned id);

    // Menu commands.
    void OnExit();
    void OnLoadFromCommPort();
    void OnLoadFromFile();
    void OnSaveToCommPort();
    void OnSaveToFile();
    void OnDump();
    void OnHelpContents();
    void OnHelpSearch();
    void OnWebSite();
    void OnAbout();

    // The file parts of the commands, after their dialogs. Each shows what
    // the command shows and returns true when the file was handled.
    bool LoadFromFile(const QString& path);
    bool SaveToFile(const QString& path);
    bool DumpToFile(const QString& path);

    // The menu by command id; EnableMenuCommand returns the previous state.
    QAction* GetMenuAction(unsigned id) const;
    bool IsMenuCommandEnabled(unsigned id) const;
    bool EnableMenuCommand(unsigned id, bool enable);

    // True while a command runs: no other command may start meanwhile.
    bool IsBusy() const { return m_busy; }
    // Runs a command that talks to the clock: marks the window busy, shows
    // busyText (a string id, 0: none) at once, and keeps the window painted
    // during the protocol's pauses. False, without running it, when another
    // command is running.
    bool RunClockCommand(unsigned busyText, const std::function<void()>& command);

    std::string GetStatusText() const;
    // A text of the program's own (not from the string table) into the status line.
    void ShowStatus(const std::string& text) { SetStatus(text); }
    CFloatStatus* GetFloatStatus() const { return m_pFloatStatus.get(); }
    QTabWidget* GetTabs() const { return m_tabs; }
    QMenuBar* GetMenuBar() const { return m_menuBar; }
    CSetupDlg& GetSetupPage() { return m_setupPage; }
    CLocationDlg& GetLocationPage() { return m_locationPage; }
    CConsoleDlg& GetConsolePage() { return m_consolePage; }
    CCommonPage& GetCommonPage() { return m_commonPage; }

    // The manual's start page: next to the installed program, else in the
    // source tree. Empty when there is none.
    static QString FindManual();
    // Where the installed manual's start page belongs (for the message when
    // it is missing).
    static QString InstalledManualPath();
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
    std::intptr_t OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
    void BuildMenu();
    QAction* AddCommand(QMenu* menu, const char* text, unsigned id, void (CClockPropSheet::*handler)());
    void WatchMenu(QMenu* menu);
    void SetStatus(const std::string& text);
    QString AskFileName(bool save, const QString& suffix);
    void RelayToPages(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
    void OnPageChanged(int index);
    void OpenManual(const QString& fragment);
    // The port's device went away under the reader: close it, tell everyone.
    void OnDeviceGone();
    // The Comm Port page's state line, once the current handling is over.
    void QueuePortStateLine();

    // Qt plumbing first: it outlives the members below, which may report to it
    // while they are destroyed.
    CQtMessageTarget m_target;
    QMenuBar* m_menuBar = nullptr;
    QTabWidget* m_tabs = nullptr;
    std::map<unsigned, QAction*> m_actions;
    std::string m_statusText;
    CCommPage* m_activePage = nullptr;  // the page whose tab is current
    bool m_busy = false;
    bool m_wasShown = false;

    CSetupDlg m_setupPage;
    CLocationDlg m_locationPage;
    CConsoleDlg m_consolePage;
    CCommonPage m_commonPage;
    std::unique_ptr<CFloatStatus> m_pFloatStatus;
    // A failed open's report into commport_err.txt, the port's error boxes,
    // and a newly opened port to the main window.
    CErrorFileReporter m_portReporter;
    CCommPort m_port;
    CClockState m_clockState;
};
