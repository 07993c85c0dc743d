// Help: the installed manual and the web site in the desktop's browser; when
// the installed manual is missing or no browser is set up, the copy built
// into the program, in a window of its own, which can still hand the
// installed file to a browser.
#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include "ClockPropSheet.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "ControlIds.h"
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
        CManualHelp::SetUrlOpener([this](const QUrl& url) {
            urls.append(url);
            return true;
        });
    }
    ~CUrlRecorder() { CManualHelp::SetUrlOpener(nullptr); }
};

// The built-in window's "Open in Browser".
QPushButton* OpenInBrowserButton(QTextBrowser* browser) {
    for (QPushButton* button : browser->window()->findChildren<QPushButton*>())
        if (button->text() == QString::fromStdString(GetString(IDS_MANUAL_OPEN_BROWSER))) return button;
    return nullptr;
}

}  // namespace

class CUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.append(url); }
};

class CManualTest : public QObject {
    Q_OBJECT

private slots:
    void init() { qunsetenv("TARVEL_MANUAL_DIR"); }
    void BuiltInCopyIsTheManual();
    void ShownFromProgramWhenNotInstalled();
    void InstalledFileIsPreferred();
    void NoBrowserShowsTheBuiltInCopy();
    void HelpAndWebOpenAddresses();
    void ProgramHoldsNoManualPathOfTheTrees();
};

void CManualTest::BuiltInCopyIsTheManual() {
    // A stale or missing copy would show an old manual, or none.
    const QByteArray source = ReadAll(QStringLiteral(TARVEL_SOURCE_MANUAL "/index.html"));
    QVERIFY(!source.isEmpty());
    QCOMPARE(ReadAll(QString::fromLatin1(CManualHelp::kBuiltInManual)), source);
}

void CManualTest::ShownFromProgramWhenNotInstalled() {
    CGuiProfile profile;
    // The test program has no installed manual beside it, and nothing names one.
    QVERIFY(CManualHelp::FindManual().isEmpty());
    CUrlRecorder desktop;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    sheet.show();

    MenuAction(sheet, ID_HELP_CONTENTS)->trigger();
    QVERIFY(desktop.urls.isEmpty());
    QVERIFY(prompts.boxes.empty());
    QTextBrowser* browser = ManualBrowser(sheet);
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
    MenuAction(sheet, ID_HELP_SEARCH)->trigger();
    QCOMPARE(ManualBrowser(sheet), browser);
    QCOMPARE(browser->source().fragment(), QStringLiteral("index"));
    QVERIFY(PumpUntil([&] { return browser->verticalScrollBar()->value() > 0; }));
    MenuAction(sheet, ID_HELP_CONTENTS)->trigger();
    QCOMPARE(ManualBrowser(sheet), browser);
    QCOMPARE(browser->verticalScrollBar()->value(), 0);

    // Closed, it is gone; asked for again, it comes back.
    browser->window()->close();
    QVERIFY(PumpUntil([&] { return ManualBrowser(sheet) == nullptr; }));
    MenuAction(sheet, ID_HELP_CONTENTS)->trigger();
    QVERIFY(ManualBrowser(sheet) != nullptr);
    QVERIFY(PumpUntil([&] { return ManualBrowser(sheet)->isVisible(); }));
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
    MenuAction(sheet, ID_HELP_CONTENTS)->trigger();
    QCOMPARE(desktop.urls.size(), 1);
    QVERIFY(desktop.urls[0].isLocalFile());
    QVERIFY(desktop.urls[0].toLocalFile().endsWith(QStringLiteral("manual/index.html")));
    QVERIFY(ManualBrowser(sheet) == nullptr);
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
        MenuAction(sheet, ID_HELP_SEARCH)->trigger();
        QTextBrowser* browser = ManualBrowser(sheet);
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

void CManualTest::HelpAndWebOpenAddresses() {
    CGuiProfile profile;
    // A test finds the manual through the environment, as a build-tree run does.
    qputenv("TARVEL_MANUAL_DIR", TARVEL_SOURCE_MANUAL);
    CDesktopBrowser firefox("firefox-esr.desktop");
    CUrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);

    MenuAction(sheet, ID_HELP_CONTENTS)->trigger();
    MenuAction(sheet, ID_HELP_SEARCH)->trigger();
    MenuAction(sheet, ID_HELP_WEB)->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    QVERIFY(prompts.boxes.empty());
    QCOMPARE(catcher.urls.size(), 3);
    QVERIFY(catcher.urls[0].isLocalFile());
    QVERIFY(catcher.urls[0].toLocalFile().endsWith(QStringLiteral("manual/index.html")));
    QVERIFY(QFile::exists(catcher.urls[0].toLocalFile()));
    QCOMPARE(catcher.urls[1].fragment(), QStringLiteral("index"));
    // The index the search lands on is really in the manual.
    QFile manual(catcher.urls[1].toLocalFile());
    QVERIFY(manual.open(QIODevice::ReadOnly));
    QVERIFY(manual.readAll().contains("id=\"index\""));
    QCOMPARE(catcher.urls[2], QUrl(QStringLiteral("https://www.halvern.example/")));

    // No program to show it: a message naming the manual's path.
    CManualHelp::SetUrlOpener([](const QUrl&) { return false; });
    MenuAction(sheet, ID_HELP_CONTENTS)->trigger();
    QCOMPARE(prompts.boxes.size(), std::size_t(1));
    const std::string shown = QFileInfo(QStringLiteral(TARVEL_SOURCE_MANUAL "/index.html")).canonicalFilePath().toStdString();
    QVERIFY2(prompts.boxes[0].find(shown) != std::string::npos, prompts.boxes[0].c_str());
    // No installed manual: the copy built into the program is shown instead
    // (ManualTest), with no message.
    qunsetenv("TARVEL_MANUAL_DIR");
    prompts.boxes.clear();
    MenuAction(sheet, ID_HELP_CONTENTS)->trigger();
    QVERIFY(prompts.boxes.empty());
    QVERIFY(ManualBrowser(sheet) != nullptr);
    QVERIFY(CManualHelp::InstalledManualPath().endsWith(QStringLiteral("share/doc/tarvel/manual/index.html")));
    CManualHelp::SetUrlOpener(nullptr);
}

void CManualTest::ProgramHoldsNoManualPathOfTheTrees() {
    // The program finds its manual under its install prefix; nothing of the
    // source tree, where the manual is written, is baked into it.
    QFile program(QStringLiteral(TARVEL_PROGRAM));
    QVERIFY(program.open(QIODevice::ReadOnly));
    const QByteArray bytes = program.readAll();
    QVERIFY(bytes.size() > 0);
    QVERIFY(!bytes.contains(QByteArray(TARVEL_SOURCE_MANUAL)));
}

QTEST_MAIN(CManualTest)
#include "ManualTest.moc"
