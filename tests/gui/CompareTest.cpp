// File > Compare... and the Clock Setup tree's marks for items changed since
// the setup was last loaded or saved.
#include <QAction>
#include <QComboBox>
#include <QFont>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include <fstream>

#include "ClockPropSheet.h"
#include "CompareDlg.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SetupItems.h"
#include "SheetPrompts.h"

namespace {

void WriteSetup(const std::string& path, const TClockConfig& config) {
    CClockState state;
    *state.GetConfig() = config;
    std::ofstream out(path, std::ios::binary);
    state.Serialize(out);
}

TClockConfig Base() {
    TClockConfig c{};
    c.mainBaud = 3;  // 9600
    c.keyLock = 0;   // Unlocked
    c.dstMinutes = 30;
    return c;
}

struct TSheet {
    CGuiProfile profile;
    CTempDir dir;
    CClockPropSheet sheet{IDS_CAPTION, nullptr, 0};
    CSheetPrompts prompts{sheet};
    QTreeWidget* tree = CommonPage(sheet).GetTree();

    QString File(const char* name) { return QString::fromStdString(dir.File(name)); }
    bool Marked(int item) {
        QTreeWidgetItem* t = FindItem(tree, item);
        return t && t->font(0).bold() && t->text(0).endsWith(QLatin1String(" *"));
    }
    int MarkedCount() {
        int n = 0;
        for (int item = 1; item < ITEM_COUNT; ++item)
            if (FindItem(tree, item) && Marked(item)) ++n;
        return n;
    }
};

}  // namespace

class CCompareTest : public QObject {
    Q_OBJECT

private slots:
    void CompareListsTheDifferingItems();
    void ChangedItemsAreMarkedUntilSavedOrLoaded();
};

void CCompareTest::CompareListsTheDifferingItems() {
    TSheet s;
    s.sheet.show();
    // Nothing to compare before a setup is shown.
    QVERIFY(!IsMenuEnabled(s.sheet, ID_FILE_COMPARE));
    WriteSetup(s.dir.File("a.hcs"), Base());
    QVERIFY(s.sheet.LoadFromFile(s.File("a.hcs")));
    QVERIFY(IsMenuEnabled(s.sheet, ID_FILE_COMPARE));

    TClockConfig other = Base();
    other.mainBaud = 4;
    other.keyLock = 1;
    other.surveyMode = 0x80;  // a bit no item holds
    WriteSetup(s.dir.File("b.hcs"), other);
    // The setup shown has an edit of its own, not yet saved.
    QVERIFY(s.sheet.GetClockState()->SetItem(15, 45, false));

    QVERIFY(s.sheet.CompareWithFile(s.File("b.hcs")));
    CCompareDlg* dlg = CompareDialog(s.sheet);
    QVERIFY(dlg && dlg->isVisible());
    QVERIFY(dlg->windowTitle().contains(QLatin1String("b.hcs")));
    QTableWidget* table = dlg->GetTable();
    QCOMPARE(table->rowCount(), 4);
    const char* rows[][4] = {{"3", "Baud Rate", "9600", "19200"},
                             {"12", "Key Lock", "Unlocked", "Locked"},
                             {"15", "Change Over Minutes", "45", "30"},
                             {"-", "Record bits no item holds (49)", "0x00", "0x80"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) QCOMPARE(table->item(r, c)->text(), QString::fromLatin1(rows[r][c]));
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("Shown"));
    QCOMPARE(dlg->GetSummary(), QStringLiteral("4 setup items differ between the setup shown and the file."));

    // Comparing with itself: the same, no table; the setup shown is untouched.
    QVERIFY(s.sheet.SaveToFile(s.File("c.hcs")));
    QVERIFY(s.sheet.CompareWithFile(s.File("c.hcs")));
    QVERIFY(CompareDialog(s.sheet) != dlg || dlg->GetTable()->rowCount() == 0);
    dlg = CompareDialog(s.sheet);
    QCOMPARE(dlg->GetTable()->rowCount(), 0);
    QCOMPARE(dlg->GetSummary(), QStringLiteral("The setup shown and the file are the same."));
    QCOMPARE(s.sheet.GetClockState()->GetConfig()->dstMinutes, 45);
    // One item is told in the singular.
    TClockConfig one = Base();
    one.dstMinutes = 45;
    one.keyLock = 1;
    WriteSetup(s.dir.File("d.hcs"), one);
    QVERIFY(s.sheet.CompareWithFile(s.File("d.hcs")));
    dlg = CompareDialog(s.sheet);
    QCOMPARE(dlg->GetTable()->rowCount(), 1);
    QCOMPARE(dlg->GetSummary(), QStringLiteral("1 setup item differs between the setup shown and the file."));

    // A file that cannot be read is told, and no dialog is left for it.
    dlg->close();
    QTRY_VERIFY_WITH_TIMEOUT(!CompareDialog(s.sheet), 10000);
    QVERIFY(!s.sheet.CompareWithFile(s.File("missing.hcs")));
    QVERIFY(!CompareDialog(s.sheet));
    QCOMPARE(s.prompts.boxes.size(), std::size_t(1));
}

void CCompareTest::ChangedItemsAreMarkedUntilSavedOrLoaded() {
    TSheet s;
    WriteSetup(s.dir.File("a.hcs"), Base());
    QVERIFY(s.sheet.LoadFromFile(s.File("a.hcs")));
    s.sheet.show();
    Tabs(s.sheet)->setCurrentWidget(&CommonPage(s.sheet));
    QCOMPARE(s.MarkedCount(), 0);

    // A choice picked in the page marks its item and its branch.
    s.tree->setCurrentItem(FindItem(s.tree, 12));
    auto* choice = qobject_cast<QComboBox*>(CommonPage(s.sheet).FindControl(IDC_SETUP_CHOICE));
    QVERIFY(choice);
    QTest::keyClick(choice, Qt::Key_Down);
    QCOMPARE(FindItem(s.tree, 12)->text(0), QStringLiteral("Key Lock Locked *"));
    QVERIFY(FindItem(s.tree, 12)->toolTip(0).contains(QLatin1String("Unlocked")));
    QVERIFY(FindItem(s.tree, 12)->parent()->font(0).bold());
    QVERIFY(!s.tree->topLevelItem(0)->font(0).bold());
    QCOMPARE(s.MarkedCount(), 1);

    // Set back to what was loaded: no longer changed.
    QTest::keyClick(choice, Qt::Key_Up);
    QCOMPARE(s.MarkedCount(), 0);
    QVERIFY(!FindItem(s.tree, 12)->parent()->font(0).bold());

    QTest::keyClick(choice, Qt::Key_Down);
    QCOMPARE(s.MarkedCount(), 1);
    // A failed load keeps the marks: the edit is still not saved anywhere.
    QVERIFY(!s.sheet.LoadFromFile(s.File("missing.hcs")));
    QVERIFY(s.Marked(12));
    // A save clears them.
    QVERIFY(s.sheet.SaveToFile(s.File("b.hcs")));
    QCOMPARE(s.MarkedCount(), 0);
    QCOMPARE(FindItem(s.tree, 12)->text(0), QStringLiteral("Key Lock Locked"));

    // So does a load, which shows the loaded values unmarked.
    s.tree->setCurrentItem(FindItem(s.tree, 3));
    QTest::keyClick(choice, Qt::Key_Down);
    QVERIFY(s.Marked(3));
    QVERIFY(s.sheet.LoadFromFile(s.File("a.hcs")));
    QCOMPARE(s.MarkedCount(), 0);
    QCOMPARE(FindItem(s.tree, 12)->text(0), QStringLiteral("Key Lock Unlocked"));
}

QTEST_MAIN(CCompareTest)
#include "CompareTest.moc"
