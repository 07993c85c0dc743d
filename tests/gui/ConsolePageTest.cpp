// The Console page: what reaches the output, what typed lines send, when the
// reader delivers, and the grayed transfers while the page is current.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTest>

#include <sstream>
#include <string>

#include "ClockPropSheet.h"
#include "GuiTestSupport.h"
#include "Messages.h"
#include "QtPromptHooks.h"
#include "Resource.h"
#include "SheetPrompts.h"

namespace {

constexpr int kConsoleTab = 3;
constexpr int kCommPortTab = 0;

// A raw pseudo-terminal whose master is the test's: what the page sends
// arrives here byte for byte, and what is written here the port receives.
class CLine {
public:
    CLine() {
        char name[128];
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) || ::unlockpt(m_master) || ::ptsname_r(m_master, name, sizeof name))
            return;
        m_slaveName = name;
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);  // held: no hang-up between opens
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
    bool IsReady() const { return m_slave >= 0; }
    const std::string& SlaveName() const { return m_slaveName; }
    bool Send(const std::string& bytes) {
        return ::write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Bytes waiting for the port, taken by nobody yet.
    int Queued() const {
        int count = -1;
        return ::ioctl(m_slave, FIONREAD, &count) == 0 ? count : -1;
    }
    // What the port wrote, until want bytes came or none came for 2 s.
    std::string Receive(std::size_t want) {
        std::string got;
        char buf[256];
        pollfd p{m_master, POLLIN, 0};
        while (got.size() < want && ::poll(&p, 1, 2000) > 0) {
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

// Switches tabs and lets the sheet answer the showing or hiding of the page.
CConsoleDlg& SelectTab(CClockPropSheet& sheet, int index) {
    sheet.show();
    sheet.GetTabs()->setCurrentIndex(index);
    QCoreApplication::sendPostedEvents();
    return sheet.GetConsolePage();
}

// As the port's reader hands them over, through the window's adapter.
void Deliver(CClockPropSheet& sheet, const std::string& bytes) {
    sheet.GetEvents()->Send(WM_COMMDATA, bytes.size(), reinterpret_cast<std::intptr_t>(bytes.data()));
}

}  // namespace

class CConsolePageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { CQtPromptHooks::Install(); }
    void cleanupTestCase() { CQtPromptHooks::Uninstall(); }
    void ReceivedTextIsFilteredAndShownByLines();
    void TypedLinesAndReception();
    void TransfersStayGrayedWhileCurrent();
    void EndlessLineKeepsTheOutputBounded();
    void LinesBetweenShowingsGoInTogether();
};

void CConsolePageTest::EndlessLineKeepsTheOutputBounded() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CConsoleDlg& page = SelectTab(sheet, kConsoleTab);
    // 10 MB without a line end, in the reader's blocks.
    const std::size_t total = 10u * 1024 * 1024;
    const std::string block(4096, 'x');
    const std::size_t bound =
        static_cast<std::size_t>(CConsoleDlg::kMaxOutputLines) * (CConsoleDlg::kMaxLineLength + 1);
    for (std::size_t sent = 0; sent < total; sent += block.size()) {
        Deliver(sheet, block);
        if (sent % (1024 * 1024) == 0)
            QVERIFY(static_cast<std::size_t>(page.GetOutput()->document()->characterCount()) <= bound);
    }
    QTextDocument* document = page.GetOutput()->document();
    QVERIFY(static_cast<std::size_t>(document->characterCount()) <= bound);
    QCOMPARE(document->blockCount(), CConsoleDlg::kMaxOutputLines);
    // The last line is no longer than any other, and text still arrives at its end.
    QVERIFY(document->lastBlock().length() - 1 <= CConsoleDlg::kMaxLineLength);
    Deliver(sheet, "end\r\n");
    QVERIFY(PumpUntil([&] { return page.GetOutput()->toPlainText().endsWith(QStringLiteral("x\nend\n")); }));
}

void CConsolePageTest::ReceivedTextIsFilteredAndShownByLines() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CConsoleDlg& page = SelectTab(sheet, kConsoleTab);
    QCOMPARE(Output(page), std::string());  // the start line went with the showing

    // Tabs, NUL, DEL and the upper half go; nothing shows before a line end.
    Deliver(sheet, std::string("ab\tc\0\x7f\x80\xff", 8));
    QCOMPARE(Output(page), std::string());
    Deliver(sheet, "d\r\nef");
    QCOMPARE(Output(page), std::string("abcd\nef"));
    // CR LF split over two blocks is one line end; so is a lone CR.
    Deliver(sheet, "\r");
    Deliver(sheet, "\ng\rh\n");
    QVERIFY(PumpUntil([&] { return Output(page) == "abcd\nef\ng\nh\n"; }));

    // A line that never ends is still shown, once it has grown large, and
    // broken where it reaches the longest line.
    Deliver(sheet, std::string(CConsoleDlg::kMaxPending + 10, 'z'));
    const std::size_t breaks = (CConsoleDlg::kMaxPending + 10 - 1) / CConsoleDlg::kMaxLineLength;
    QVERIFY(PumpUntil([&] { return Output(page).size() == 12 + CConsoleDlg::kMaxPending + 10 + breaks; }));
    const QString shown = page.GetOutput()->toPlainText();
    for (const QString& line : shown.split(QLatin1Char('\n'))) QVERIFY(line.size() <= CConsoleDlg::kMaxLineLength);
    // The output keeps its newest lines only.
    std::string many;
    for (int i = 0; i < CConsoleDlg::kMaxOutputLines + 50; ++i) many += std::to_string(i) + "\r\n";
    Deliver(sheet, many);
    const std::string newest = "\n" + std::to_string(CConsoleDlg::kMaxOutputLines + 49) + "\n";
    QVERIFY(PumpUntil([&] { return Output(page).ends_with(newest); }));
    QCOMPARE(page.GetOutput()->blockCount(), CConsoleDlg::kMaxOutputLines);
}

void CConsolePageTest::LinesBetweenShowingsGoInTogether() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CConsoleDlg& page = SelectTab(sheet, kConsoleTab);
    int insertions = 0;
    QObject::connect(page.GetOutput()->document(), &QTextDocument::contentsChange,
                     [&](int, int, int added) { insertions += added > 0 ? 1 : 0; });
    // The first line after a quiet spell shows at once; those right behind it
    // wait for the next showing and go in as one, line ends kept as before.
    Deliver(sheet, "one\r\n");
    QCOMPARE(Output(page), std::string("one\n"));
    Deliver(sheet, "two\r\nthr");
    Deliver(sheet, "ee\r");
    Deliver(sheet, "\nfour\n");
    QCOMPARE(Output(page), std::string("one\n"));
    QVERIFY(PumpUntil([&] { return Output(page) == "one\ntwo\nthree\nfour\n"; }));
    QCOMPARE(insertions, 2);
}

void CConsolePageTest::TypedLinesAndReception() {
    CGuiProfile profile;
    CLine line;
    QVERIFY(line.IsReady());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    CConsoleDlg& page = SelectTab(sheet, kConsoleTab);
    QPlainTextEdit* input = page.GetInput();
    QVERIFY(!input->isEnabled());
    QVERIFY(sheet.GetPort()->Open(line.SlaveName()));  // tells the sheet, which tells the page
    QVERIFY(input->isEnabled());
    SelectTab(sheet, kCommPortTab);
    SelectTab(sheet, kConsoleTab);  // reading starts with a showing on an open port

    // Lines go without a line end, cut to 79 characters; an empty line
    // sends nothing, so the next bytes are those of the line after it.
    QTest::keyClicks(input, QStringLiteral("hello"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(line.Receive(5), std::string("hello"));
    QTest::keyClicks(input, QString(79, QLatin1Char('a')) + QStringLiteral("bcdef"));
    QTest::keyClick(input, Qt::Key_Return);
    QTest::keyClick(input, Qt::Key_Return);
    QTest::keyClicks(input, QStringLiteral("x"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(line.Receive(80), std::string(79, 'a') + "x");
    // The typed lines stay in the one-line input, scrolled up out of sight:
    // the new, empty line is the one shown.
    QCOMPARE(input->toPlainText(),
             QStringLiteral("hello\n") + QString(79, QLatin1Char('a')) + QStringLiteral("bcdef\n\nx\n"));
    QCOMPARE(input->cursorForPosition(QPoint(4, 4)).block().blockNumber(), input->document()->blockCount() - 1);
    // Enter released in the output sends the input's finished line again.
    QTest::keyClick(page.GetOutput(), Qt::Key_Return);
    QCOMPARE(line.Receive(1), std::string("x"));

    QVERIFY(line.Send("one\r\n"));
    QVERIFY(PumpUntil([&] { return Output(page) == "one\n"; }));
    // Another tab: no reader, so what the clock sends stays queued (a reader
    // left running would take it within the wait).
    SelectTab(sheet, kCommPortTab);
    QVERIFY(line.Send("two\r\n"));
    QTest::qWait(300);
    QCOMPARE(line.Queued(), 5);
    // Shown again: an emptied output, and the waiting bytes arrive.
    SelectTab(sheet, kConsoleTab);
    QVERIFY(PumpUntil([&] { return Output(page) == "two\n"; }));
    // Escape stops reception while the page stays shown.
    QTest::keyClick(input, Qt::Key_Escape);
    QVERIFY(line.Send("four\r\n"));
    QTest::qWait(300);
    QCOMPARE(line.Queued(), 6);
    QCOMPARE(Output(page), std::string("two\n"));
    QVERIFY(sheet.isVisible());
    QVERIFY(prompts.boxes.empty());
}

void CConsolePageTest::TransfersStayGrayedWhileCurrent() {
    CGuiProfile profile;
    CLine line;
    CTempDir dir;
    std::ostringstream setup;
    CClockState().Serialize(setup);
    WriteWholeFile(dir.File("setup.hcs"), setup.str());
    const QString setupFile = QString::fromStdString(dir.File("setup.hcs"));
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    auto both = [&](bool enabled) {
        return sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM) == enabled &&
               sheet.IsMenuCommandEnabled(ID_FILE_SAVE_COMM) == enabled;
    };

    QVERIFY(sheet.GetPort()->Open(line.SlaveName()));
    QVERIFY(sheet.LoadFromFile(setupFile));
    QVERIFY(both(true));
    SelectTab(sheet, kConsoleTab);
    QVERIFY(both(false));
    SelectTab(sheet, kCommPortTab);
    QVERIFY(both(true));

    // Changes while the page is current keep both grayed; leaving gives them
    // the state of the latest change, not the one found on entry.
    SelectTab(sheet, kConsoleTab);
    QVERIFY(sheet.LoadFromFile(setupFile));
    QVERIFY(both(false));
    sheet.GetPort()->Close();
    sheet.GetEvents()->NotifyPortStateChanged();
    QVERIFY(both(false));
    SelectTab(sheet, kCommPortTab);
    QVERIFY(both(false));
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_SAVE_FILE));
}

QTEST_MAIN(CConsolePageTest)
#include "ConsolePageTest.moc"
