#include "QtClockUi.h"

#include <QApplication>
#include <QMessageBox>

#include "DlgCommDelay.h"
#include "Profile.h"

void CQtClockUi::ShowMessage(const std::string& text, const std::string& detail) {
    if (m_boxHandler) {
        m_boxHandler(text, detail);
        return;
    }
    const std::unique_ptr<QMessageBox> box = MakeBox(text, detail);
    // A box raised during a blocking operation waits for the user, not for it.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
    box->exec();
    if (busy) QApplication::restoreOverrideCursor();
}

std::unique_ptr<QMessageBox> CQtClockUi::MakeBox(const std::string& text, const std::string& detail) const {
    // Over whatever window is active (a countdown, say), else over the owner.
    QWidget* parent = QApplication::activeWindow() ? QApplication::activeWindow() : m_owner.data();
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, QString::fromStdString(GetAppName()),
                                             QString::fromStdString(text), QMessageBox::Ok, parent);
    if (!detail.empty()) box->setInformativeText(QString::fromStdString(detail));
    return box;
}

std::unique_ptr<ICountdown> CQtClockUi::MakeCountdown(int lower, int upper, int step) {
    return std::make_unique<CDlgCommDelay>(lower, upper, step, m_owner.data());
}
