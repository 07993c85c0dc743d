// What the window tells in few words: a long status line loses its middle
// and keeps the whole text as its tool tip, a long port line takes more
// lines; a file that cannot be handled gets its box with the reason under it.
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QToolTip>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "ClockPropSheet.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "Resource.h"
#include "SheetPrompts.h"
#include "StringTable.h"

namespace {

// Where the screenshots of the elided lines go: TARVEL_SHOTS_DIR, else a
// folder of the test's own.
QString ShotsFolder(const CTempDir& own) {
    const QByteArray env = qgetenv("TARVEL_SHOTS_DIR");
    return env.isEmpty() ? QString::fromStdString(own.Path()) : QString::fromLocal8Bit(env);
}

// The text without its blanks and line ends: the same words however broken.
QString Squeezed(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (!c.isSpace()) out += c;
    return out;
}

// The label of page that shows text in full (on one line or more) or in part.
QLabel* LabelShowing(QWidget* page, const QString& full) {
    for (QLabel* label : page->findChildren<QLabel*>())
        if (label->toolTip() == full || Squeezed(label->text()) == Squeezed(full)) return label;
    return nullptr;
}

// A shown text that lost its middle to an ellipsis and kept both ends.
bool ElidedInTheMiddle(const QString& shown, const QString& full) {
    const int ellipsis = shown.indexOf(QChar(0x2026));
    return ellipsis > 0 && ellipsis < shown.size() - 1 && shown.size() < full.size() &&
           full.startsWith(shown.left(ellipsis)) && full.endsWith(shown.mid(ellipsis + 1));
}

}  // namespace

class CMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void LongLinesLoseTheirMiddleNotTheirEnd();
    void FileErrorsSayWhy();
};

void CMessagesTest::LongLinesLoseTheirMiddleNotTheirEnd() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    CFloatStatus* status = StatusLine(sheet);
    QVERIFY(PumpUntil([&] { return status->isVisible() && status->width() > 0; }));

    const std::string longText =
        "Sent clock configuration data to clock successfully. Backup: /home/someone/.local/share/tarvel/backups/"
        "usb-Halvern_Systems_GPS_Clock_A1B2C3-if00-port0/20261208-150112.hcs";
    QVERIFY(status->fontMetrics().horizontalAdvance(QString::fromStdString(longText)) > status->width());
    sheet.ShowStatusText(longText);
    QVERIFY2(ElidedInTheMiddle(status->GetShownText(), QString::fromStdString(longText)),
             qPrintable(status->GetShownText()));
    QCOMPARE(status->GetToolTip(), QString::fromStdString(longText));
    QCOMPARE(StatusText(sheet), longText);
    // It shows on a click and on hovering, though the line's window is never the active one.
    QVERIFY(!status->isActiveWindow());
    auto tipShown = [&] { return QToolTip::isVisible() && QToolTip::text() == status->GetToolTip(); };
    QLabel* pane = status->findChild<QLabel*>();
    QTest::mouseClick(pane, Qt::LeftButton);
    QVERIFY(PumpUntil(tipShown));
    QToolTip::hideText();
    QVERIFY(PumpUntil([] { return !QToolTip::isVisible(); }));
    QTest::mouseMove(pane, pane->rect().center());
    QVERIFY(PumpUntil(tipShown));
    QToolTip::hideText();
    CTempDir own;
    const QString shots = ShotsFolder(own);
    QDir().mkpath(shots);
    QVERIFY(status->grab().save(shots + QStringLiteral("/status-line-elided.png")));

    // Wide enough again: the whole text, and no tool tip repeating it.
    sheet.resize(2400, 300);
    QVERIFY(PumpUntil([&] { return status->GetShownText() == QString::fromStdString(longText); }));
    QVERIFY(status->GetToolTip().isEmpty());
    sheet.ShowStatusText("Ready");
    QCOMPARE(status->GetShownText(), QStringLiteral("Ready"));
    QVERIFY(status->GetToolTip().isEmpty());

    // The port line says why an open failed and what to do (at the end): all
    // of it, on lines of the page's width.
    sheet.resize(sheet.minimumSizeHint());
    CSetupDlg& page = SetupPage(sheet);
    const std::string missing = "/dev/serial/by-id/usb-Halvern_Systems_GPS_Clock_A1B2C3-if00-port0";
    sheet.GetPort()->Open(missing);
    page.ShowPortState();
    const QString full = QString::fromStdString(page.GetPortStateText());
    QVERIFY2(full.endsWith(QStringLiteral("press \"Open Comm Port\" again.")), qPrintable(full));
    QLabel* line = nullptr;
    QVERIFY(PumpUntil([&] { return (line = LabelShowing(&page, full)) && line->text().contains(QLatin1Char('\n')); }));
    QVERIFY(line->toolTip().isEmpty());
    const int lines = static_cast<int>(line->text().count(QLatin1Char('\n'))) + 1;
    QVERIFY2(PumpUntil([&] { return line->contentsRect().height() >= lines * line->fontMetrics().lineSpacing(); }),
             qPrintable(QStringLiteral("%1 lines in %2 px").arg(lines).arg(line->contentsRect().height())));
    QVERIFY(line->geometry().bottom() < page.height());
    QVERIFY(sheet.grab().save(shots + QStringLiteral("/port-line-wrapped.png")));
}

void CMessagesTest::FileErrorsSayWhy() {
    CGuiProfile profile;
    CTempDir dir;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    const std::string fifo = dir.File("pipe.hcs");
    QVERIFY(::mkfifo(fifo.c_str(), 0600) == 0);
    const std::string folder = dir.Path();
    const std::string notRegular = GetString(IDS_FILE_NOT_REGULAR);
    const std::string isFolder = std::strerror(EISDIR);
    using TAction = std::function<bool(const QString&)>;
    const TAction load = [&](const QString& path) { return sheet.LoadFromFile(path); };
    const TAction save = [&](const QString& path) { return sheet.SaveToFile(path); };
    const TAction dump = [&](const QString& path) { return sheet.DumpToFile(path); };
    const TAction compare = [&](const QString& path) { return sheet.CompareWithFile(path); };
    const struct {
        const char* what;
        const TAction& action;
        const std::string& path;
        unsigned box;
        const std::string& reason;
    } rows[] = {
        {"load a FIFO", load, fifo, IDS_ERROR_OPENING_FILE, notRegular},
        {"load a folder", load, folder, IDS_ERROR_OPENING_FILE, isFolder},
        {"save to a FIFO", save, fifo, IDS_ERROR_SAVING_FILE, notRegular},
        {"save to a folder", save, folder, IDS_ERROR_SAVING_FILE, isFolder},
        {"dump to a FIFO", dump, fifo, IDS_ERROR_SAVING_FILE, notRegular},
        {"compare with a FIFO", compare, fifo, IDS_ERROR_OPENING_FILE, notRegular},
    };
    for (const auto& row : rows) {
        prompts.boxes.clear();
        prompts.details.clear();
        QVERIFY2(!row.action(QString::fromStdString(row.path)), row.what);
        QCOMPARE(prompts.boxes, std::vector<std::string>{GetString(row.box)});
        QCOMPARE(prompts.details, std::vector<std::string>{row.path + ": " + row.reason});
    }
    // Nothing waited on the pipe, and it is still a pipe.
    struct stat st {};
    QVERIFY(::stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

QTEST_MAIN(CMessagesTest)
#include "MessagesTest.moc"
