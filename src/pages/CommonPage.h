// The "Clock Setup" page: the setup items of the configuration as a tree of
// groups, each item labelled with its value, and the editor for the selected
// item at the right: a choice list, or a value field with "Apply". Changes go
// into the configuration at once; writing it out is the menu's business.
#pragma once

#include <cstdint>
#include <string>

#include "ClockConfig.h"

#include "CommPage.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CCommonPage : public CCommPage {
public:
    explicit CCommonPage(QWidget* parent = nullptr);
    ~CCommonPage() override;

    // Rebuilds the whole tree from a present configuration, branches
    // collapsed and nothing selected; does nothing while none is present.
    void BuildTree();
    // Relabels one item from its current value.
    void RefreshItemText(QTreeWidgetItem* treeItem);

    // Handlers: a new tree selection (null for none), a choice picked, Apply.
    void OnSelChangedTree(QTreeWidgetItem* current);
    void OnSelChangeChoice(int index);
    void OnApplyValue();

    // The item label with its "%s" replaced by the value text; a label
    // without one stays as it is.
    static std::string FormatLabel(const std::string& label, const std::string& value);
    // The leading signed decimal number of typed text, blanks before it
    // skipped and anything after it ignored. Empty when there is no number;
    // a number too big for 32 bits gives its sign's overflow marker.
    enum class TScan { None, Number, Overflow };
    static TScan ScanNumber(const std::string& text, int& value);

    QTreeWidget* GetTree() const { return m_tree; }

    // Items whose value differs from the setup as last loaded or saved are
    // marked in the tree: bold, a trailing " *", and what the value was as
    // their tool tip; a branch holding one is bold. The sheet calls
    // MarkUnchanged after each load and save; until the first, the first
    // setup shown counts as unchanged.
    void MarkUnchanged();
    bool IsItemChanged(int item) const;

protected:
    bool OnInitDialog() override;
    void OnClockStateChanged() override;

private:
    // The item number the tree item carries; 0 for a branch or no item.
    static int ItemNumber(const QTreeWidgetItem* treeItem);
    void ClearEditors();
    // Bold for a branch that holds a changed item.
    static void MarkBranch(QTreeWidgetItem* branch);

    QPushButton* m_btnApply = nullptr;
    QLineEdit* m_editValue = nullptr;
    QComboBox* m_comboChoice = nullptr;
    QTreeWidget* m_tree = nullptr;
    QGroupBox* m_group = nullptr;
    // The setup as last loaded or saved; meaningful once m_hasBaseline.
    TClockConfig m_baseline{};
    bool m_hasBaseline = false;
};
