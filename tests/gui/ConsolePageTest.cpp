// The Console page on a host of the test's own: what reaches the output,
// what typed lines send, and Escape ending reception. In the window: a burst
// from the clock reaches the page whole and in order, and the status line's
// counts add up to it.
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTest>

#include <string>

#include "ClockPropSheet.h"
#include "ConsoleDlg.h"
#include "FakePageHost.h"
#include "GuiTestSupport.h"
#include "QtWaitHooks.h"
#include "Resource.h"
#include "SheetParts.h"
#include "StringTable.h"

namespace {

// The page shown, its output emptied as each showing in the window empties
// it; what the port's reader receives goes in as the window hands it over.
struct TConsole {
    CGuiProfile profile;
    CFakePageHost host;
    CConsoleDlg page;

    TConsole() {
        page.SetSheet(&host);
        page.show();
        page.ClearOutput();
        host.reception.onData = [this](const QByteArray& bytes) { page.OnReceivedData(bytes); };
    }
    std::string Output() const { return page.GetOutput()->toPlainText().toStdString(); }
    void Deliver(const std::string& bytes) { page.OnReceivedData(QByteArray::fromStdString(bytes)); }
};

}  // namespace

class CConsolePageTest : public QObject {
    Q_OBJECT

private slots:
    void ReceivedTextIsFilteredAndShownByLines();
    void TypedLinesAndEscape();
    void EndlessLineKeepsTheOutputBounded();
    void LinesBetweenShowingsGoInTogether();
    void BurstArrivesWholeInOrderAndCounted();
};

void CConsolePageTest::EndlessLineKeepsTheOutputBounded() {
    TConsole c;
    QPlainTextEdit* output = c.page.GetOutput();
    // 10 MB without a line end, in the reader's blocks.
    const std::size_t total = 10u * 1024 * 1024;
    const std::string block(4096, 'x');
    const std::size_t bound =
        static_cast<std::size_t>(CConsoleDlg::kMaxOutputLines) * (CConsoleDlg::kMaxLineLength + 1);
    for (std::size_t sent = 0; sent < total; sent += block.size()) {
        c.Deliver(block);
        if (sent % (1024 * 1024) == 0)
            QVERIFY(static_cast<std::size_t>(output->document()->characterCount()) <= bound);
    }
    QTextDocument* document = output->document();
    QVERIFY(static_cast<std::size_t>(document->characterCount()) <= bound);
    QCOMPARE(document->blockCount(), CConsoleDlg::kMaxOutputLines);
    // The last line is no longer than any other, and text still arrives at its end.
    QVERIFY(document->lastBlock().length() - 1 <= CConsoleDlg::kMaxLineLength);
    c.Deliver("end\r\n");
    QVERIFY(PumpUntil([&] { return output->toPlainText().endsWith(QStringLiteral("x\nend\n")); }));
}

void CConsolePageTest::ReceivedTextIsFilteredAndShownByLines() {
    TConsole c;
    // Tabs, NUL, DEL and the upper half go; nothing shows before a line end.
    c.Deliver(std::string("ab\tc\0\x7f\x80\xff", 8));
    QCOMPARE(c.Output(), std::string());
    c.Deliver("d\r\nef");
    QCOMPARE(c.Output(), std::string("abcd\nef"));
    // CR LF split over two blocks is one line end; so is a lone CR.
    c.Deliver("\r");
    c.Deliver("\ng\rh\n");
    QVERIFY(PumpUntil([&] { return c.Output() == "abcd\nef\ng\nh\n"; }));

    // A line that never ends is still shown, once it has grown large, and
    // broken where it reaches the longest line.
    c.Deliver(std::string(CConsoleDlg::kMaxPending + 10, 'z'));
    const std::size_t breaks = (CConsoleDlg::kMaxPending + 10 - 1) / CConsoleDlg::kMaxLineLength;
    QVERIFY(PumpUntil([&] { return c.Output().size() == 12 + CConsoleDlg::kMaxPending + 10 + breaks; }));
    const QString shown = c.page.GetOutput()->toPlainText();
    for (const QString& line : shown.split(QLatin1Char('\n'))) QVERIFY(line.size() <= CConsoleDlg::kMaxLineLength);
    // The output keeps its newest lines only.
    std::string many;
    for (int i = 0; i < CConsoleDlg::kMaxOutputLines + 50; ++i) many += std::to_string(i) + "\r\n";
    c.Deliver(many);
    const std::string newest = "\n" + std::to_string(CConsoleDlg::kMaxOutputLines + 49) + "\n";
    QVERIFY(PumpUntil([&] { return c.Output().ends_with(newest); }));
    QCOMPARE(c.page.GetOutput()->blockCount(), CConsoleDlg::kMaxOutputLines);
}

void CConsolePageTest::LinesBetweenShowingsGoInTogether() {
    TConsole c;
    int insertions = 0;
    QObject::connect(c.page.GetOutput()->document(), &QTextDocument::contentsChange,
                     [&](int, int, int added) { insertions += added > 0 ? 1 : 0; });
    // The first line after a quiet spell shows at once; those right behind it
    // wait for the next showing and go in as one, line ends kept as before.
    c.Deliver("one\r\n");
    QCOMPARE(c.Output(), std::string("one\n"));
    c.Deliver("two\r\nthr");
    c.Deliver("ee\r");
    c.Deliver("\nfour\n");
    QCOMPARE(c.Output(), std::string("one\n"));
    QVERIFY(PumpUntil([&] { return c.Output() == "one\ntwo\nthree\nfour\n"; }));
    QCOMPARE(insertions, 2);
}

void CConsolePageTest::TypedLinesAndEscape() {
    TConsole c;
    QVERIFY(QTest::qWaitForWindowExposed(&c.page));  // laid out: the input scrolls
    CPseudoTerminal line;
    QVERIFY(line.IsReady());
    QVERIFY(c.host.port.Open(line.SlaveName()));
    c.page.PortStateChanged();
    c.host.port.ReadStart(&c.host.reception);  // as the window does on a showing
    QPlainTextEdit* input = c.page.GetInput();

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
    QTest::keyClick(c.page.GetOutput(), Qt::Key_Return);
    QCOMPARE(line.Receive(1), std::string("x"));

    QVERIFY(line.WriteToPort("one\r\n"));
    QVERIFY(PumpUntil([&] { return c.Output() == "one\n"; }));
    // Escape stops reception while the page stays shown: what the clock
    // sends stays queued (a reader left running would take it in the wait).
    QTest::keyClick(input, Qt::Key_Escape);
    QVERIFY(line.WriteToPort("four\r\n"));
    QTest::qWait(300);
    QCOMPARE(line.Queued(), 6);
    QCOMPARE(c.Output(), std::string("one\n"));
    QVERIFY(c.page.isVisible());
    QVERIFY(c.host.boxes.empty());
}

void CConsolePageTest::BurstArrivesWholeInOrderAndCounted() {
    CGuiProfile profile;
    struct THooks {
        THooks() { CQtWaitHooks::Install(); }
        ~THooks() { CQtWaitHooks::Uninstall(); }
    } hooks;
    CPseudoTerminal line;
    QVERIFY(line.IsReady());
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 3);  // on the Console page
        QVERIFY(sheet.GetPort()->Open(line.SlaveName()));
        long long counted = 0;
        int latest = 0;
        QObject::connect(sheet.GetEvents(), &CPortEvents::CommStatus, [&](int code, int count) {
            if (code != 1) return;
            counted += count;
            latest = count;
        });
        sheet.show();
        QVERIFY(PumpUntil([&] { return sheet.GetPort()->IsReading(); }));

        // Written while the window is busy writing: the reader's blocks come
        // in faster than the window takes them.
        std::string sent, chunk, shown;
        for (int i = 0; i < 3000; ++i) {
            chunk += "line " + std::to_string(i) + "\r\n";
            shown += "line " + std::to_string(i) + "\n";
            if (chunk.size() < 1000 && i < 2999) continue;
            QVERIFY(line.WriteToPort(chunk));
            sent += chunk;
            chunk.clear();
        }
        QPlainTextEdit* output = ConsolePage(sheet).GetOutput();
        QVERIFY(PumpUntil([&] { return output->toPlainText().toStdString() == shown; }, 30000));
        // Every byte counted once; the line shows the latest count.
        QCOMPARE(counted, static_cast<long long>(sent.size()));
        QCOMPARE(StatusText(sheet), FormatString(GetString(IDS_PORT_READ).c_str(), latest));
    }
}

QTEST_MAIN(CConsolePageTest)
#include "ConsolePageTest.moc"
