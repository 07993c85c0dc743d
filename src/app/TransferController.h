// The File menu's two transfers with the clock: "From Comm Port" reads the
// clock's setup, "To Comm Port" keeps a backup of it (unless the profile
// says not to) and writes the setup shown. Each runs as the window's one
// clock command and tells its outcome on the status line, or in a box with
// the clock's reason under it.
#pragma once

#include <string>

class CCommonPage;
class CFloatStatus;
class CPortEvents;
class CQtClockUi;
class IPageHost;

class CTransferController {
public:
    // setupPage: the Clock Setup page, told when what it shows is the
    // clock's; events: told when the configuration changed.
    CTransferController(IPageHost& host, CQtClockUi& ui, CFloatStatus& status, CCommonPage& setupPage,
                        CPortEvents& events);

    // File > Load > From Comm Port and File > Save > To Comm Port.
    void OnLoadFromCommPort();
    void OnSaveToCommPort();

private:
    // Before a write: the clock's setup kept (unless the profile says not
    // to). False when nothing is to be sent; the status line says why.
    bool BackUpBeforeWrite(std::string& backupPath);
    // The status line now, painted before the wait that follows.
    void ShowProgress(unsigned textId);
    // A transfer that failed: the status line and a box with the text, and
    // the clock's reason (a sentence) under it.
    void ShowFailure(unsigned textId, const std::string& detail);

    IPageHost& m_host;
    CQtClockUi& m_ui;
    CFloatStatus& m_status;
    CCommonPage& m_setupPage;
    CPortEvents& m_events;
};
