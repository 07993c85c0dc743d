// The Console page: what reaches the output, what typed lines send, when the
// reader delivers, and the grayed transfers while the page is current.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

#include <chrono>
#include <sstream>
#include <string>

#include "ClockPropSheet.h"
#include "ConsoleDlg.h"
#include "GuiTestSupport.h"
#include "Messages.h"
#include "QtPromptHooks.h"
#include "Resource.h"
#include "SimClock.h"

namespace {

constexpr int kConsoleTab = 3;
constexpr int kCommPortTab = 0;

// A pseudo-terminal whose master the test reads and writes: what the page
// sends arrives here byte for byte.
class CLine {
public:
    CLine() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
            ::ptsname_r(m_master, name, sizeof name) != 0)
            return;
        m_slaveName = name;
        // Held open so the line never hangs up; raw, so nothing is translated.
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        if (m_slave >= 0 && ::tcgetattr(m_slave, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(m_slave, TCSANOW, &raw);
        }
    }
    ~CLine() {
        if (m_slave >= 0) ::close(m_slave);
        if (m_master >= 0) ::close(m_master);
    }
    bool IsReady() const { return m_master >= 0 && m_slave >= 0; }
    const std::string& SlaveName() const { return m_slaveName; }
    bool Send(const std::string& bytes) {
        return ::write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Bytes waiting on the port's side, read by nobody yet.
    int Queued() const {
        int count = -1;
        return ::ioctl(m_slave, FIONREAD, &count) == 0 ? count : -1;
    }
    // What the port wrote, until want bytes came or nothing came for a while.
    std::string Receive(std::size_t want) {
        std::string got;
        while (got.size() < want) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

std::string Output(CConsoleDlg& page) { return page.GetOutput()->toPlainText().toStdString(); }

// Switches tabs and lets the sheet answer the page's showing or hiding
// (output emptied and reader started, or reader stopped).
void SelectTab(CClockPropSheet& sheet, int index) {
    sheet.show();
    sheet.GetTabs()->setCurrentIndex(index);
    QCoreApplication::sendPostedEvents();
}

CConsoleDlg& ShowConsole(CClockPropSheet& sheet) {
    SelectTab(sheet, kConsoleTab);
    return sheet.GetConsolePage();
}

void Deliver(CConsoleDlg& page, const std::string& bytes) {
    page.GetTarget()->Send(WM_COMMDATA, bytes.size(), reinterpret_cast<std::intptr_t>(bytes.data()));
}

std::string ValidSetupFile() {
    CClockState fresh;
    std::ostringstream out;
    fresh.Serialize(out);
    return out.str();
}

}  // namespace

class CConsolePageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { CQtPromptHooks::Install(); }
    void cleanupTestCase() { CQtPromptHooks::Uninstall(); }
    void ReceivedTextIsFilteredAndShownByLines();
    void FinishedLinesGoToThePort();
    void ReaderDeliversOnlyWhileShown();
    void TransfersStayGrayedWhileCurrent();
    void ClockAnswersTypedCommand();
};

void CConsolePageTest::ReceivedTextIsFilteredAndShownByLines() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CConsoleDlg& page = ShowConsole(sheet);
    QVERIFY(page.GetOutput());
    // The start line is gone as soon as the page is shown.
    QCOMPARE(Output(page), std::string());

    // Tabs, NUL, DEL and the upper half go; nothing shows before a line end.
    Deliver(page, std::string("ab\tc\0\x7f\x80\xff", 8));
    QCOMPARE(Output(page), std::string());
    Deliver(page, "d\r\nef");
    QCOMPARE(Output(page), std::string("abcd\nef"));

    // CR LF split over two blocks is one line end; so is a lone CR.
    Deliver(page, "\r");
    Deliver(page, "\ng\rh\n");
    QCOMPARE(Output(page), std::string("abcd\nef\ng\nh\n"));
    QCOMPARE(page.GetOutput()->blockCount(), 5);

    // A clock that never ends its line is still shown, in bounded pieces.
    Deliver(page, std::string(CConsoleDlg::kMaxPending + 10, 'z'));
    QCOMPARE(Output(page).size(), std::string("abcd\nef\ng\nh\n").size() + CConsoleDlg::kMaxPending + 10);

    // The output keeps its newest lines only.
    std::string many;
    for (int i = 0; i < CConsoleDlg::kMaxOutputLines + 50; ++i) many += std::to_string(i) + "\r\n";
    Deliver(page, many);
    QCOMPARE(page.GetOutput()->blockCount(), CConsoleDlg::kMaxOutputLines);
    QVERIFY(Output(page).ends_with("\n" + std::to_string(CConsoleDlg::kMaxOutputLines + 49) + "\n"));
}

void CConsolePageTest::FinishedLinesGoToThePort() {
    CGuiProfile profile;
    CCapturedPrompts prompts;
    CLine line;
    QVERIFY(line.IsReady());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    SetMainTarget(sheet.GetTarget());
    CConsoleDlg& page = ShowConsole(sheet);
    QPlainTextEdit* input = page.GetInput();
    QVERIFY(!input->isEnabled());

    // Opening the port tells the sheet, which tells the page.
    QVERIFY(sheet.GetPort()->Open(line.SlaveName()));
    QVERIFY(input->isEnabled());

    QTest::keyClicks(input, QStringLiteral("hello"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(line.Receive(5), std::string("hello"));

    // Cut to 79 characters; then an empty line sends nothing at all, so the
    // next bytes on the line are those of the line after it.
    const std::string longLine(79, 'a');
    QTest::keyClicks(input, QString::fromStdString(longLine + "bcdef"));
    QTest::keyClick(input, Qt::Key_Return);
    QTest::keyClick(input, Qt::Key_Return);
    QTest::keyClicks(input, QStringLiteral("x"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(line.Receive(80), longLine + "x");

    // Enter released in the output sends the input's finished line again.
    QTest::keyClick(page.GetOutput(), Qt::Key_Return);
    QCOMPARE(line.Receive(1), std::string("x"));

    // With the port closed the input is off, and nothing is written.
    sheet.GetPort()->Close();
    sheet.GetTarget()->Send(WM_PORTSTATECHANGED, 0, 0);
    QVERIFY(!input->isEnabled());
    QTest::keyClick(page.GetOutput(), Qt::Key_Return);
    QVERIFY(prompts.boxes.empty());
    SetMainTarget(nullptr);
}

void CConsolePageTest::ReaderDeliversOnlyWhileShown() {
    CGuiProfile profile;
    CCapturedPrompts prompts;
    CLine line;
    QVERIFY(line.IsReady());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    QVERIFY(sheet.GetPort()->Open(line.SlaveName()));
    CConsoleDlg& page = ShowConsole(sheet);

    QVERIFY(line.Send("one\r\n"));
    QVERIFY(PumpUntil([&] { return Output(page) == "one\n"; }));

    // Another tab: no reader, so what the clock sends stays queued. (A reader
    // left running would take it within this wait.)
    SelectTab(sheet, kCommPortTab);
    QVERIFY(line.Send("two\r\n"));
    QTest::qWait(300);
    QCOMPARE(line.Queued(), 5);
    QCOMPARE(Output(page), std::string("one\n"));

    // Shown again: the output starts empty and the waiting bytes arrive.
    ShowConsole(sheet);
    QVERIFY(PumpUntil([&] { return Output(page) == "two\n"; }));

    // Escape stops reception while the page stays shown.
    QTest::keyClick(page.GetInput(), Qt::Key_Escape);
    QVERIFY(line.Send("four\r\n"));
    QTest::qWait(300);
    QCOMPARE(line.Queued(), 6);
    QCOMPARE(Output(page), std::string("two\n"));
    QVERIFY(sheet.isVisible());
    QVERIFY(prompts.boxes.empty());
}

void CConsolePageTest::TransfersStayGrayedWhileCurrent() {
    CGuiProfile profile;
    CCapturedPrompts prompts;
    CLine line;
    CTempDir dir;
    QVERIFY(line.IsReady());
    WriteWholeFile(dir.File("setup.hcs"), ValidSetupFile());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    SetMainTarget(sheet.GetTarget());
    SelectTab(sheet, kCommPortTab);
    auto both = [&](bool load, bool save) {
        return sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM) == load &&
               sheet.IsMenuCommandEnabled(ID_FILE_SAVE_COMM) == save;
    };

    // Closed port: grayed on entry, grayed on leaving.
    sheet.GetTabs()->setCurrentIndex(kConsoleTab);
    QVERIFY(both(false, false));
    sheet.GetTabs()->setCurrentIndex(kCommPortTab);
    QVERIFY(both(false, false));

    QVERIFY(sheet.GetPort()->Open(line.SlaveName()));
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("setup.hcs"))));
    QVERIFY(both(true, true));
    sheet.GetTabs()->setCurrentIndex(kConsoleTab);
    QVERIFY(both(false, false));
    sheet.GetTabs()->setCurrentIndex(kCommPortTab);
    QVERIFY(both(true, true));

    // Changes while the page is current keep both grayed; leaving gives them
    // the state of the latest change, not the one found on entry.
    sheet.GetTabs()->setCurrentIndex(kConsoleTab);
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("setup.hcs"))));
    QVERIFY(both(false, false));
    sheet.GetPort()->Close();
    sheet.GetTarget()->Send(WM_PORTSTATECHANGED, 0, 0);
    QVERIFY(both(false, false));
    sheet.GetTabs()->setCurrentIndex(kCommPortTab);
    QVERIFY(both(false, false));
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_SAVE_FILE));
    SetMainTarget(nullptr);
}

void CConsolePageTest::ClockAnswersTypedCommand() {
    CGuiProfile profile;
    CSimClock clock;
    QVERIFY2(clock.Start(), clock.LastError().c_str());
    std::tm when{};
    when.tm_year = 2024 - 1900;
    when.tm_mon = 1;
    when.tm_mday = 3;  // day 34 of the year
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_sec = 7;
    const std::time_t t = ::timegm(&when);
    clock.SetCommandHandler([&](const std::string& command) {
        if (command == "TU") clock.SetClockTime(t);
    });
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    SetMainTarget(sheet.GetTarget());
    QVERIFY(sheet.GetPort()->Open(clock.DevicePath()));
    CConsoleDlg& page = ShowConsole(sheet);

    // The echo, then the answer, shown as the clock's lines.
    QTest::keyClicks(page.GetInput(), QStringLiteral("TU"));
    QTest::keyClick(page.GetInput(), Qt::Key_Return);
    QVERIFY(PumpUntil([&] { return Output(page) == "TU34:5:6:7\n"; }));
    SetMainTarget(nullptr);
}

QTEST_MAIN(CConsolePageTest)
#include "ConsolePageTest.moc"
