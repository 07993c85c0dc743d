// The page bases: tooltips from the string table by control id. The pages
// on a host of the test's own, with no main window: what they ask of it.
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

#include "ClockState.h"
#include "CommPage.h"
#include "CommonPage.h"
#include "CommPort.h"
#include "ConsoleDlg.h"
#include "FakePageHost.h"
#include "GuiTestSupport.h"
#include "LocationDlg.h"
#include "ControlIds.h"
#include "SetupDlg.h"
#include "StringTable.h"

namespace {

// A page with a few controls, some with a tooltip string, some without.
class CSamplePage : public CCommPage {
public:
    explicit CSamplePage(QWidget* parent = nullptr) : CCommPage(129, parent) {
        port = TagControl(new QLineEdit(this), IDC_COMM_PORT);
        open = TagControl(new QPushButton(QStringLiteral("&Open Comm Port"), this), IDC_OPEN_PORT);
        label = TagControl(new QLabel(QStringLiteral("Baud"), this), -1);
        output = TagControl(new QLineEdit(this), IDC_CONSOLE_OUTPUT);
        untagged = new QLineEdit(this);
    }
    QLineEdit* port;
    QPushButton* open;
    QLabel* label;
    QLineEdit* output;
    QLineEdit* untagged;
    QWidget* lateControl = nullptr;

protected:
    bool OnInitDialog() override {
        CCommPage::OnInitDialog();
        lateControl = TagControl(new QLineEdit(this), IDC_CONSOLE_INPUT);
        return true;
    }
};

// The four pages, each on its own with the test's host, shown once.
struct TFourPages {
    CFakePageHost host;
    CSetupDlg setup;
    CCommonPage common;
    CLocationDlg location;
    CConsoleDlg console;
    std::vector<CCommPage*> all{&setup, &common, &location, &console};

    bool ShowAll() {
        for (CCommPage* page : all) {
            page->SetSheet(&host);
            page->show();
            if (!QTest::qWaitForWindowExposed(page)) return false;
        }
        return true;
    }
};

// What a screen reader calls a control: its label's text, else its own name.
// A list with neither is named by the entry it shows, never what it is for.
QString NameOf(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    if (!face) return QString();
    for (const auto& [label, relation] : face->relations(QAccessible::Label)) {
        const QString text = label->text(QAccessible::Name);
        if (!text.isEmpty()) return text;
    }
    return qobject_cast<QComboBox*>(widget) ? QString() : face->text(QAccessible::Name);
}

}  // namespace

class CPagesTest : public QObject {
    Q_OBJECT

private slots:
    void ToolTipsComeFromStringsOnFirstShow();
    void ConsoleAsksItsHost();
    void LocationBeepsWithThePortClosed();
    void EveryControlHasAName();
    void PagesGrowWithTheWindow();
    void ControlsAreNamedByTheirLabels();
};

void CPagesTest::EveryControlHasAName() {
    CGuiProfile profile;
    TFourPages pages;
    QVERIFY(pages.ShowAll());
    int controls = 0;
    for (CCommPage* page : pages.all) {
        // A control is what can take the focus (a combo's own edit hands it on).
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (w->focusPolicy() == Qt::NoFocus || w->focusProxy() || !w->isVisibleTo(page)) continue;
            ++controls;
            const QString what = page->GetTitle() + QLatin1Char(' ') + QLatin1String(w->metaObject()->className()) +
                                 QLatin1Char(' ') + QString::number(CToolTipPage::GetControlId(w));
            QVERIFY2(!NameOf(w).isEmpty(), qPrintable(what));
        }
    }
    QVERIFY2(controls >= 15, qPrintable(QString::number(controls)));
    // Where a control has a label, the label is its name.
    QCOMPARE(NameOf(pages.location.FindControl(IDC_LOCAL_OFFSET)), QStringLiteral("Local Offset"));
    QCOMPARE(NameOf(pages.setup.FindControl(IDC_BAUD)), QStringLiteral("Baud"));
    QCOMPARE(NameOf(pages.common.FindControl(IDC_SETUP_TREE)), QStringLiteral("Setup items"));
    QCOMPARE(NameOf(pages.common.FindControl(IDC_SETUP_CHOICE)), QStringLiteral("Choices"));
    QCOMPARE(NameOf(pages.console.GetInput()), QStringLiteral("Line to send"));
}

void CPagesTest::ControlsAreNamedByTheirLabels() {
    CGuiProfile profile;
    TFourPages pages;
    QVERIFY(pages.ShowAll());
    const struct {
        QWidget* control;
        const char* name;
    } named[] = {{pages.setup.FindControl(IDC_MODEL), "Model"},
                 {pages.setup.FindControl(IDC_COMM_PORT), "Comm Port"},
                 {pages.setup.FindControl(IDC_BAUD), "Baud"},
                 {pages.setup.FindControl(IDC_DATA_BITS), "Data"},
                 {pages.setup.FindControl(IDC_PARITY), "Parity"},
                 {pages.setup.FindControl(IDC_STOP_BITS), "Stop"},
                 {pages.common.FindControl(IDC_SETUP_CHOICE), "Choices"},
                 {pages.console.GetInput(), "Line to send"}};
    for (const auto& n : named) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(n.control);
        QVERIFY2(face, n.name);
        QCOMPARE(face->text(QAccessible::Name), QString::fromLatin1(n.name));
        // A list's entry is still what it holds.
        if (auto* combo = qobject_cast<QComboBox*>(n.control))
            QCOMPARE(face->text(QAccessible::Value), combo->currentText());
    }
}

void CPagesTest::PagesGrowWithTheWindow() {
    CGuiProfile profile;
    TFourPages pages;
    QVERIFY(pages.ShowAll());
    // The control of each page that takes the room a larger window gives.
    const struct {
        CCommPage* page;
        unsigned control;
        bool taller;
    } rows[] = {{&pages.setup, IDC_COMM_PORT, false},
                {&pages.common, IDC_SETUP_TREE, true},
                {&pages.location, IDC_LOCAL_TIME, false},
                {&pages.console, IDC_CONSOLE_OUTPUT, true}};
    for (const auto& row : rows) {
        QWidget* control = row.page->FindControl(static_cast<int>(row.control));
        QVERIFY(control);
        row.page->resize(row.page->minimumSize());
        QVERIFY(QTest::qWaitFor([&] { return row.page->size() == row.page->minimumSize(); }));
        const QSize small = control->size();
        row.page->resize(3 * row.page->minimumSize());
        QVERIFY2(QTest::qWaitFor([&] {
                     return control->width() > small.width() + 400 &&
                            (!row.taller || control->height() > small.height() + 300);
                 }),
                 qPrintable(row.page->GetTitle()));
    }
}

void CPagesTest::ToolTipsComeFromStringsOnFirstShow() {
    CSamplePage page;
    QVERIFY(!page.IsCreated());
    QVERIFY(page.port->toolTip().isEmpty());
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QVERIFY(page.IsCreated());

    QCOMPARE(page.port->toolTip(), QStringLiteral("Selects the comm port.  Note: you may type in a value."));
    QCOMPARE(page.open->toolTip(), QString::fromStdString(GetString(IDC_OPEN_PORT)));
    QVERIFY(!page.open->toolTip().isEmpty());
    // A control made during initialisation gets its tooltip too.
    QVERIFY(page.lateControl != nullptr);
    QCOMPARE(page.lateControl->toolTip(), QString::fromStdString(GetString(IDC_CONSOLE_INPUT)));
    // No string, no tooltip: the console output, a label with -1, untagged controls.
    std::string none;
    QVERIFY(!LoadString(IDC_CONSOLE_OUTPUT, none));
    QVERIFY(page.output->toolTip().isEmpty());
    QVERIFY(page.label->toolTip().isEmpty());
    QVERIFY(page.untagged->toolTip().isEmpty());

    QCOMPARE(page.FindControl(IDC_OPEN_PORT), page.open);
    QCOMPARE(page.FindControl(4242), nullptr);
    QCOMPARE(CToolTipPage::GetControlId(page.untagged), 0);
    QCOMPARE(page.GetTitle(), QStringLiteral("Comm Port"));
}

void CPagesTest::ConsoleAsksItsHost() {
    CGuiProfile profile;
    CFakePageHost host;
    CConsoleDlg page;
    page.SetSheet(&host);
    QSignalSpy shown(&page, &CConsoleDlg::ShownChanged);
    // Not yet shown: a change of port finds nothing to refresh.
    page.PortStateChanged();
    QVERIFY(!page.GetInput());

    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(0).toBool(), true);
    QVERIFY(!page.GetInput()->isEnabled());
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    QVERIFY(host.port.Open(pty.SlaveName()));
    page.PortStateChanged();
    QVERIFY(page.GetInput()->isEnabled());

    // Current: the transfers blocked; left: given back, once.
    page.OnSetActive();
    page.OnKillActive();
    page.OnKillActive();
    QCOMPARE(host.blocks, (std::vector<bool>{true, false}));

    page.OnReceivedData(QByteArray("ok\r\n"));
    QVERIFY(page.GetOutput()->toPlainText().endsWith(QStringLiteral("ok\n")));
    page.ClearOutput();
    QVERIFY(page.GetOutput()->toPlainText().isEmpty());
    page.hide();
    QCOMPARE(shown.count(), 2);
    QCOMPARE(shown.at(1).at(0).toBool(), false);
    QVERIFY(host.boxes.empty());
}

void CPagesTest::LocationBeepsWithThePortClosed() {
    CGuiProfile profile;
    CFakePageHost host;
    CLocationDlg page;
    page.SetSheet(&host);
    int beeps = 0;
    page.SetBeeper([&] { ++beeps; });
    page.OnClockTimeToPC();
    page.OnPCTimeToClock();
    QCOMPARE(beeps, 2);
    // Refused before any transfer started: nothing in the status line.
    QVERIFY(host.statuses.empty());
    QVERIFY(host.boxes.empty());
}

QTEST_MAIN(CPagesTest)
#include "PagesTest.moc"
