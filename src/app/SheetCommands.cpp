// The commands that talk to the clock and the ones that handle files.
#include "ClockPropSheet.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include <filesystem>

#include "ClockFile.h"
#include "CompareDlg.h"
#include "FileError.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "QtPromptHooks.h"
#include "Resource.h"
#include "SetupBackups.h"
#include "StringTable.h"
#include "WaitCursor.h"

namespace {

// File names as the system spells them.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Under the box's text: the file and what is wrong with it, as tarvelctl says it.
std::string FileErrorDetail(const CFileError& e, const QString& path) {
    const std::string file = e.GetPath().empty() ? LocalPath(path) : e.GetPath();
    return file + ": " + e.GetReason();
}


}  // namespace

void CClockPropSheet::ShowClockFailure(unsigned textId, const std::string& detail) {
    SetStatus(detail.empty() ? GetString(textId) : GetString(textId) + " " + detail);
    m_ui.ShowMessage(GetString(textId), detail);
}

bool CClockPropSheet::RunClockCommand(unsigned busyText, const std::function<void()>& command) {
    if (m_busy) return false;
    m_busy = true;
    CQtPromptHooks::CTransferScope transfer;
    if (busyText != 0) {
        OnStatusText(busyText);
        if (m_pFloatStatus) m_pFloatStatus->repaint();
    }
    command();
    m_busy = false;
    // A failure that says the device is gone: the same as when the reader
    // finds it so, on whatever page the command came from.
    if (m_port.IsOpen() && m_port.IsDeviceGone()) OnDeviceGone();
    return true;
}

void CClockPropSheet::OnLoadFromCommPort() {
    RunClockCommand(IDS_READING_FROM_CLOCK, [this] {
        TClockResult read;
        {
            CWaitCursor wait;
            read = m_clockState.Read(m_port, true);
        }
        if (read) {
            OnStatusText(IDS_GOT_FROM_CLOCK);
            m_commonPage.MarkUnchanged();
        } else {
            // The line no longer says that a read is under way.
            ShowClockFailure(IDS_READ_FAILED, read.Sentence());
        }
        m_events.NotifyClockStateChanged();
    });
}

bool CClockPropSheet::BackUpBeforeWrite(std::string& backupPath) {
    backupPath.clear();
    if (GetProfileInt(ProfileKeys::COMMUNICATION, ProfileKeys::BACKUP, 1) == 0) return true;
    OnStatusText(IDS_READING_FOR_BACKUP);
    if (m_pFloatStatus) m_pFloatStatus->repaint();
    std::string portName;
    m_port.GetPortName(portName);
    CSetupBackups backups;
    TPreWriteResult pre;
    {
        CWaitCursor wait;
        pre = PrepareWrite(m_clockState, m_port, portName, *m_clockState.GetConfig(), false, backups);
    }
    switch (pre.outcome) {
    case TPreWrite::Proceed:
        backupPath = pre.backupPath;
        OnStatusText(IDS_WRITING_TO_CLOCK);
        if (m_pFloatStatus) m_pFloatStatus->repaint();
        return true;
    case TPreWrite::AlreadyHeld:
        // The clock holds what is shown: nothing is left unsaved.
        OnStatusText(IDS_CLOCK_HOLDS_SETUP);
        m_commonPage.MarkUnchanged();
        return false;
    case TPreWrite::ReadFailed:
        ShowClockFailure(IDS_BACKUP_READ_FAILED, pre.readFailure.Sentence());
        return false;
    case TPreWrite::KeepFailed: {
        const std::string text = FormatString(GetString(IDS_BACKUP_SAVE_FAILED).c_str(), pre.reason.c_str());
        SetStatus(text);
        ShowMessage(text);
        return false;
    }
    }
    return false;
}

void CClockPropSheet::OnSaveToCommPort() {
    RunClockCommand(IDS_WRITING_TO_CLOCK, [this] {
        std::string backupPath;
        if (!BackUpBeforeWrite(backupPath)) return;
        TWriteResult result = TWriteResult::Failed;
        {
            CWaitCursor wait;
            result = m_clockState.Write(m_port);
        }
        if (result == TWriteResult::Written) {
            if (backupPath.empty())
                OnStatusText(IDS_SENT_TO_CLOCK);
            else
                // The file's name on the line; its folder in the tool tip.
                SetStatus(FormatString(GetString(IDS_SENT_WITH_BACKUP).c_str(),
                                       std::filesystem::path(backupPath).filename().c_str()),
                          FormatString(GetString(IDS_SENT_WITH_BACKUP).c_str(), backupPath.c_str()));
            m_commonPage.MarkUnchanged();
        } else if (result == TWriteResult::Failed) {
            ShowClockFailure(IDS_WRITE_FAILED, m_clockState.GetWriteFailure().Sentence());
        } else {
            OnStatusText(CancelledWriteText(result));
        }
    });
}

QString CClockPropSheet::AskFileName(bool save, const QString& suffix) {
    QFileDialog dialog(this);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A name that does not exist may be typed in; opening it then fails.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted) return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void CClockPropSheet::OnLoadFromFile() {
    const QString path = AskFileName(false, QStringLiteral("hcs"));
    if (path.isEmpty()) return;
    LoadFromFile(path);
}

bool CClockPropSheet::LoadFromFile(const QString& path) {
    bool loaded = false;
    try {
        // A file refused for its signature or revision has shown its message.
        loaded = LoadConfigFile(m_clockState, LocalPath(path)) == TLoadResult::Loaded;
        if (loaded) {
            OnStatusText(IDS_READ_FILE_OK);
            m_commonPage.MarkUnchanged();
        }
    } catch (const CFileError& e) {
        m_ui.ShowMessage(GetString(IDS_ERROR_OPENING_FILE), FileErrorDetail(e, path));
    } catch (...) {
        ShowMessage(GetString(IDS_ERROR_OPENING_FILE));
        loaded = false;
    }
    m_events.NotifyClockStateChanged();
    return loaded;
}

void CClockPropSheet::OnSaveToFile() {
    const QString path = AskFileName(true, QStringLiteral("hcs"));
    if (path.isEmpty()) return;
    SaveToFile(path);
}

bool CClockPropSheet::SaveToFile(const QString& path) {
    // The old file stays intact unless the new one was written in full.
    std::string reason;
    try {
        SaveConfigFile(m_clockState, LocalPath(path));
        OnStatusText(IDS_SAVED_FILE_OK);
        m_commonPage.MarkUnchanged();
        return true;
    } catch (const CFileError& e) {
        reason = FileErrorDetail(e, path);
    } catch (...) {
        // No reason to give: the box alone.
    }
    m_ui.ShowMessage(GetString(IDS_ERROR_SAVING_FILE), reason);
    return false;
}

void CClockPropSheet::OnCompare() {
    const QString path = AskFileName(false, QStringLiteral("hcs"));
    if (path.isEmpty()) return;
    CompareWithFile(path);
}

bool CClockPropSheet::CompareWithFile(const QString& path) {
    CClockState file;
    // A refused file tells why, as loading it would.
    file.SetUi(m_clockState.GetUi());
    try {
        if (LoadConfigFile(file, LocalPath(path)) != TLoadResult::Loaded) return false;
    } catch (const CFileError& e) {
        m_ui.ShowMessage(GetString(IDS_ERROR_OPENING_FILE), FileErrorDetail(e, path));
        return false;
    } catch (...) {
        ShowMessage(GetString(IDS_ERROR_OPENING_FILE));
        return false;
    }
    if (m_compareDlg) m_compareDlg->close();
    m_compareDlg = new CCompareDlg(DiffSetups(*m_clockState.GetConfig(), *file.GetConfig()), QFileInfo(path).fileName(), this);
    m_compareDlg->setAttribute(Qt::WA_DeleteOnClose);
    m_compareDlg->open();
    return true;
}

CCompareDlg* CClockPropSheet::GetCompareDialog() const { return m_compareDlg; }

void CClockPropSheet::OnDump() {
    const QString path = AskFileName(true, QStringLiteral("txt"));
    if (path.isEmpty()) return;
    DumpToFile(path);
}

bool CClockPropSheet::DumpToFile(const QString& path) {
    // A dump that cannot be written is told like any file that cannot be saved.
    try {
        DumpConfigFile(m_clockState, LocalPath(path));
    } catch (const CFileError& e) {
        m_ui.ShowMessage(GetString(IDS_ERROR_SAVING_FILE), FileErrorDetail(e, path));
        return false;
    } catch (...) {
        ShowMessage(GetString(IDS_ERROR_SAVING_FILE));
        return false;
    }
    OnStatusText(IDS_DUMPED_FILE_OK);
    return true;
}
