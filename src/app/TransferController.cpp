#include "TransferController.h"

#include <filesystem>

#include "ClockState.h"
#include "CommPort.h"
#include "CommonPage.h"
#include "FloatStatus.h"
#include "PageHost.h"
#include "PortEvents.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "QtClockUi.h"
#include "Resource.h"
#include "SetupBackups.h"
#include "StringTable.h"
#include "WaitCursor.h"

CTransferController::CTransferController(IPageHost& host, CQtClockUi& ui, CFloatStatus& status,
                                         CCommonPage& setupPage, CPortEvents& events)
    : m_host(host), m_ui(ui), m_status(status), m_setupPage(setupPage), m_events(events) {}

void CTransferController::ShowProgress(unsigned textId) {
    m_host.ShowStatus(textId);
    m_status.repaint();
}

void CTransferController::ShowFailure(unsigned textId, const std::string& detail) {
    m_host.ShowStatusText(detail.empty() ? GetString(textId) : GetString(textId) + " " + detail);
    m_ui.ShowMessage(GetString(textId), detail);
}

void CTransferController::OnLoadFromCommPort() {
    m_host.RunClockCommand(IDS_READING_FROM_CLOCK, [this] {
        TClockResult read;
        {
            CWaitCursor wait;
            read = m_host.GetClockState()->Read(*m_host.GetPort(), true);
        }
        if (read) {
            m_host.ShowStatus(IDS_GOT_FROM_CLOCK);
            m_setupPage.MarkUnchanged();
        } else {
            // The line no longer says that a read is under way.
            ShowFailure(IDS_READ_FAILED, read.Sentence());
        }
        m_events.NotifyClockStateChanged();
    });
}

bool CTransferController::BackUpBeforeWrite(std::string& backupPath) {
    backupPath.clear();
    if (GetProfileInt(ProfileKeys::COMMUNICATION, ProfileKeys::BACKUP, 1) == 0) return true;
    ShowProgress(IDS_READING_FOR_BACKUP);
    CCommPort& port = *m_host.GetPort();
    CClockState& state = *m_host.GetClockState();
    std::string portName;
    port.GetPortName(portName);
    CSetupBackups backups;
    TPreWriteResult pre;
    {
        CWaitCursor wait;
        pre = PrepareWrite(state, port, portName, *state.GetConfig(), false, backups);
    }
    switch (pre.outcome) {
    case TPreWrite::Proceed:
        backupPath = pre.backupPath;
        ShowProgress(IDS_WRITING_TO_CLOCK);
        return true;
    case TPreWrite::AlreadyHeld:
        // The clock holds what is shown: nothing is left unsaved.
        m_host.ShowStatus(IDS_CLOCK_HOLDS_SETUP);
        m_setupPage.MarkUnchanged();
        return false;
    case TPreWrite::ReadFailed:
        ShowFailure(IDS_BACKUP_READ_FAILED, pre.readFailure.Sentence());
        return false;
    case TPreWrite::KeepFailed: {
        const std::string text = FormatString(GetString(IDS_BACKUP_SAVE_FAILED).c_str(), pre.reason.c_str());
        m_host.ShowStatusText(text);
        m_host.ShowMessage(text);
        return false;
    }
    }
    return false;
}

void CTransferController::OnSaveToCommPort() {
    m_host.RunClockCommand(IDS_WRITING_TO_CLOCK, [this] {
        std::string backupPath;
        if (!BackUpBeforeWrite(backupPath)) return;
        CClockState& state = *m_host.GetClockState();
        TWriteResult result = TWriteResult::Failed;
        {
            CWaitCursor wait;
            result = state.Write(*m_host.GetPort());
        }
        if (result == TWriteResult::Written) {
            if (backupPath.empty())
                m_host.ShowStatus(IDS_SENT_TO_CLOCK);
            else
                // The file's name on the line; its folder in the tool tip.
                m_status.SetText(FormatString(GetString(IDS_SENT_WITH_BACKUP).c_str(),
                                              std::filesystem::path(backupPath).filename().c_str()),
                                 FormatString(GetString(IDS_SENT_WITH_BACKUP).c_str(), backupPath.c_str()));
            m_setupPage.MarkUnchanged();
        } else if (result == TWriteResult::Failed) {
            ShowFailure(IDS_WRITE_FAILED, state.GetWriteFailure().Sentence());
        } else {
            m_host.ShowStatus(CancelledWriteText(result));
        }
    });
}
