// The countdown dialog: its count, its bar, and how each way out ends it.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include "DlgCommDelay.h"
#include "GuiTestSupport.h"
#include "Messages.h"
#include "Waits.h"
#include "QtClockUi.h"

namespace {

// Runs fn once the dialog's own loop is running.
void WhenRunning(CDlgCommDelay& dlg, std::function<void(CDlgCommDelay&)> fn) {
    QTimer::singleShot(0, &dlg, [&dlg, fn] { fn(dlg); });
}

}  // namespace

class CCountdownTest : public QObject {
    Q_OBJECT

private slots:
    void CountsDownToZeroAndCloses();
    void OkEndsAtOnceAsCompleted();
    void CancelEscapeAndCloseAreCancel();
    void RunsAgainFromTheStoredRange();
    void WindowUiMakesTheDialog();
    void EachRunIsCentredOverItsWindow();
};

void CCountdownTest::CountsDownToZeroAndCloses() {
    CDlgCommDelay dlg(0, 10, 1);
    dlg.SetTickMs(2);
    QString opening;
    int openingBar = -1;
    WhenRunning(dlg, [&](CDlgCommDelay& d) {
        opening = d.GetCountText();
        openingBar = d.GetBarValue();
    });
    QCOMPARE(dlg.DoModal(), IDOK);
    QCOMPARE(opening, QStringLiteral("Countdown 10..."));
    QCOMPARE(openingBar, 0);
    QCOMPARE(dlg.GetCountText(), QStringLiteral("Countdown 0..."));
    QCOMPARE(dlg.GetBarValue(), 10);
}

void CCountdownTest::OkEndsAtOnceAsCompleted() {
    CDlgCommDelay dlg(0, 10, 1);
    dlg.SetTickMs(60 * 60 * 1000);  // no tick comes during the test
    // Run from under the write's wait cursor: the buttons show they can be pressed.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Qt::CursorShape during = Qt::WaitCursor;
    WhenRunning(dlg, [&during](CDlgCommDelay& d) {
        during = QApplication::overrideCursor()->shape();
        d.GetOkButton()->click();
    });
    QCOMPARE(dlg.DoModal(), IDOK);
    QCOMPARE(dlg.GetCountText(), QStringLiteral("Countdown 10..."));
    QCOMPARE(during, Qt::ArrowCursor);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QApplication::restoreOverrideCursor();
}

void CCountdownTest::CancelEscapeAndCloseAreCancel() {
    CDlgCommDelay dlg(0, 10, 1);
    dlg.SetTickMs(60 * 60 * 1000);
    WhenRunning(dlg, [](CDlgCommDelay& d) { d.GetCancelButton()->click(); });
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    WhenRunning(dlg, [](CDlgCommDelay& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    WhenRunning(dlg, [](CDlgCommDelay& d) { d.close(); });
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    // Enter takes the default button: OK.
    WhenRunning(dlg, [](CDlgCommDelay& d) { QTest::keyClick(&d, Qt::Key_Return); });
    QCOMPARE(dlg.DoModal(), IDOK);
}

void CCountdownTest::RunsAgainFromTheStoredRange() {
    CDlgCommDelay dlg(0, 10, 1);
    dlg.SetTickMs(2);
    QCOMPARE(dlg.DoModal(), IDOK);

    // The second run starts from the top with an empty bar.
    dlg.SetTickMs(60 * 60 * 1000);
    QString again;
    int bar = -1;
    WhenRunning(dlg, [&](CDlgCommDelay& d) {
        again = d.GetCountText();
        bar = d.GetBarValue();
        d.GetCancelButton()->click();
    });
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    QCOMPARE(again, QStringLiteral("Countdown 10..."));
    QCOMPARE(bar, 0);

    // A new range counts from its own top.
    dlg.SetRange(0, 3);
    dlg.SetTickMs(2);
    QString shorter;
    WhenRunning(dlg, [&](CDlgCommDelay& d) { shorter = d.GetCountText(); });
    QCOMPARE(dlg.DoModal(), IDOK);
    QCOMPARE(shorter, QStringLiteral("Countdown 3..."));
    QCOMPARE(dlg.GetBarValue(), 3);
}

void CCountdownTest::WindowUiMakesTheDialog() {
    QWidget owner;
    CQtClockUi ui(&owner);
    const int saved = CDlgCommDelay::GetDefaultTickMs();
    CDlgCommDelay::SetDefaultTickMs(2);
    auto countdown = ui.MakeCountdown(0, 10, 1);
    auto* dlg = dynamic_cast<CDlgCommDelay*>(countdown.get());
    QVERIFY(dlg != nullptr);
    QCOMPARE(dlg->parentWidget(), &owner);
    QCOMPARE(countdown->DoModal(), IDOK);
    QCOMPARE(dlg->GetCountText(), QStringLiteral("Countdown 0..."));
    CDlgCommDelay::SetDefaultTickMs(saved);
}

void CCountdownTest::EachRunIsCentredOverItsWindow() {
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    CDlgCommDelay dlg(0, 10, 1, &owner);
    dlg.SetTickMs(60 * 60 * 1000);
    // A write runs up to three; the window may have moved in between.
    for (const QPoint at : {QPoint(20, 20), QPoint(20, 20), QPoint(380, 260)}) {
        owner.move(at);
        QVERIFY(PumpUntil([&] { return owner.frameGeometry().topLeft() == at; }));
        dlg.move(0, 0);  // where a window manager may have left the last one
        QRect shown;
        WhenRunning(dlg, [&shown](CDlgCommDelay& d) { shown = d.frameGeometry(); d.GetOkButton()->click(); });
        QCOMPARE(dlg.DoModal(), IDOK);
        const QRect over = owner.frameGeometry();
        QVERIFY(over.contains(shown) && (shown.center() - over.center()).manhattanLength() <= 2);
    }
}

QTEST_MAIN(CCountdownTest)
#include "CountdownTest.moc"
