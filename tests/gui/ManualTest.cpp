// Help > Contents and Help > Search when the installed manual is missing or
// no browser is set up: the copy built into the program, in a window of its
// own, which can still hand the installed file to a browser.
#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include "ClockPropSheet.h"
#include "GuiTestSupport.h"
#include "Resource.h"
#include "SheetPrompts.h"
#include "StringTable.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Addresses the desktop was asked to open, and never opens them.
struct CUrlRecorder {
    QList<QUrl> urls;
    CUrlRecorder() {
        CClockPropSheet::SetUrlOpener([this](const QUrl& url) {
            urls.append(url);
            return true;
        });
    }
    ~CUrlRecorder() { CClockPropSheet::SetUrlOpener(nullptr); }
};

// The built-in window's "Open in Browser".
QPushButton* OpenInBrowserButton(QTextBrowser* browser) {
    for (QPushButton* button : browser->window()->findChildren<QPushButton*>())
        if (button->text() == QString::fromStdString(GetString(IDS_MANUAL_OPEN_BROWSER))) return button;
    return nullptr;
}

}  // namespace

class CManualTest : public QObject {
    Q_OBJECT

private slots:
    void init() { qunsetenv("TARVEL_MANUAL_DIR"); }
    void BuiltInCopyIsTheManual();
    void ShownFromProgramWhenNotInstalled();
    void InstalledFileIsPreferred();
    void NoBrowserShowsTheBuiltInCopy();
};

void CManualTest::BuiltInCopyIsTheManual() {
    // A stale or missing copy would show an old manual, or none.
    const QByteArray source = ReadAll(QStringLiteral(TARVEL_SOURCE_MANUAL "/index.html"));
    QVERIFY(!source.isEmpty());
    QCOMPARE(ReadAll(QString::fromLatin1(CClockPropSheet::kBuiltInManual)), source);
}

void CManualTest::ShownFromProgramWhenNotInstalled() {
    CGuiProfile profile;
    // The test program has no installed manual beside it, and nothing names one.
    QVERIFY(CClockPropSheet::FindManual().isEmpty());
    CUrlRecorder desktop;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    sheet.show();

    sheet.GetMenuAction(ID_HELP_CONTENTS)->trigger();
    QVERIFY(desktop.urls.isEmpty());
    QVERIFY(prompts.boxes.empty());
    QTextBrowser* browser = sheet.GetManualBrowser();
    QVERIFY(browser != nullptr);
    QVERIFY(PumpUntil([&] { return browser->isVisible(); }));
    QCOMPARE(browser->source().scheme(), QStringLiteral("qrc"));
    const QRegularExpression title(QStringLiteral("<title>([^<]*)</title>"));
    const QString expected = title.match(QString::fromUtf8(ReadAll(QStringLiteral(TARVEL_SOURCE_MANUAL "/index.html")))).captured(1);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(browser->documentTitle(), expected);
    QCOMPARE(browser->window()->windowTitle(), QStringLiteral("tarvel Manual"));
    // No file for a browser to open.
    QVERIFY(OpenInBrowserButton(browser) != nullptr);
    QVERIFY(!OpenInBrowserButton(browser)->isEnabled());

    // Search lands on the index, further down; Contents again goes back to the
    // top of the same window rather than opening another.
    sheet.GetMenuAction(ID_HELP_SEARCH)->trigger();
    QCOMPARE(sheet.GetManualBrowser(), browser);
    QCOMPARE(browser->source().fragment(), QStringLiteral("index"));
    QVERIFY(PumpUntil([&] { return browser->verticalScrollBar()->value() > 0; }));
    sheet.GetMenuAction(ID_HELP_CONTENTS)->trigger();
    QCOMPARE(sheet.GetManualBrowser(), browser);
    QCOMPARE(browser->verticalScrollBar()->value(), 0);

    // Closed, it is gone; asked for again, it comes back.
    browser->window()->close();
    QVERIFY(PumpUntil([&] { return sheet.GetManualBrowser() == nullptr; }));
    sheet.GetMenuAction(ID_HELP_CONTENTS)->trigger();
    QVERIFY(sheet.GetManualBrowser() != nullptr);
    QVERIFY(PumpUntil([&] { return sheet.GetManualBrowser()->isVisible(); }));
    QVERIFY(desktop.urls.isEmpty());
    QVERIFY(prompts.boxes.empty());
}

void CManualTest::InstalledFileIsPreferred() {
    // With a manual on disk the desktop's browser gets the file; no window
    // of ours opens.
    CGuiProfile profile;
    qputenv("TARVEL_MANUAL_DIR", TARVEL_SOURCE_MANUAL);
    CDesktopBrowser firefox("firefox-esr.desktop");
    CUrlRecorder desktop;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    sheet.GetMenuAction(ID_HELP_CONTENTS)->trigger();
    QCOMPARE(desktop.urls.size(), 1);
    QVERIFY(desktop.urls[0].isLocalFile());
    QVERIFY(desktop.urls[0].toLocalFile().endsWith(QStringLiteral("manual/index.html")));
    QVERIFY(sheet.GetManualBrowser() == nullptr);
    QVERIFY(prompts.boxes.empty());
}

void CManualTest::NoBrowserShowsTheBuiltInCopy() {
    // The desktop's launcher would say it opened the file and show nothing:
    // the window of our own shows instead, and its button still offers the
    // installed file, at the place shown, to a browser.
    CGuiProfile profile;
    qputenv("TARVEL_MANUAL_DIR", TARVEL_SOURCE_MANUAL);
    for (const char* answer : {"", static_cast<const char*>(nullptr)}) {
        CDesktopBrowser none(answer);
        CUrlRecorder desktop;
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        CSheetPrompts prompts(sheet);
        sheet.show();
        sheet.GetMenuAction(ID_HELP_SEARCH)->trigger();
        QTextBrowser* browser = sheet.GetManualBrowser();
        QVERIFY(browser != nullptr);
        QVERIFY(PumpUntil([&] { return browser->isVisible(); }));
        QVERIFY(desktop.urls.isEmpty());
        QVERIFY(prompts.boxes.empty());

        QPushButton* toBrowser = OpenInBrowserButton(browser);
        QVERIFY(toBrowser != nullptr);
        QVERIFY(toBrowser->isEnabled());
        toBrowser->click();
        QCOMPARE(desktop.urls.size(), 1);
        QVERIFY(desktop.urls[0].toLocalFile().endsWith(QStringLiteral("manual/index.html")));
        QCOMPARE(desktop.urls[0].fragment(), QStringLiteral("index"));
        QVERIFY(prompts.boxes.empty());
    }
}

QTEST_MAIN(CManualTest)
#include "ManualTest.moc"
