// The File menu's commands that handle files, and running a clock command.
#include "ClockPropSheet.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "ClockFile.h"
#include "CompareDlg.h"
#include "FileError.h"
#include "QtWaitHooks.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

// File names as the system spells them.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Under the box's text: the file and what is wrong with it, as tarvelctl says it.
std::string FileErrorDetail(const CFileError& e, const QString& path) {
    const std::string file = e.GetPath().empty() ? LocalPath(path) : e.GetPath();
    return file + ": " + e.GetReason();
}

}  // namespace

bool CClockPropSheet::RunClockCommand(unsigned busyText, const std::function<void()>& command) {
    if (m_busy) return false;
    m_busy = true;
    CQtWaitHooks::CTransferScope transfer;
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
