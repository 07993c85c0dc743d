// The main window's parts as a user meets them: found among its widgets (by
// type, or a menu command by its id), never through getters of the window.
#pragma once

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QTabWidget>
#include <QTextBrowser>

#include <string>

#include "ClockPropSheet.h"
#include "CompareDlg.h"
#include "FloatStatus.h"

// The first descendant of root that is a T (the pages have no meta-object
// of their own, so findChild cannot tell them apart).
template <class T>
T* FindPart(const QObject& root) {
    for (QObject* child : root.findChildren<QObject*>())
        if (auto* part = dynamic_cast<T*>(child)) return part;
    return nullptr;
}

inline QTabWidget* Tabs(CClockPropSheet& sheet) { return sheet.findChild<QTabWidget*>(); }
inline QMenuBar* MenuBar(CClockPropSheet& sheet) { return sheet.findChild<QMenuBar*>(); }
inline CSetupDlg& SetupPage(CClockPropSheet& sheet) { return *FindPart<CSetupDlg>(sheet); }
inline CCommonPage& CommonPage(CClockPropSheet& sheet) { return *FindPart<CCommonPage>(sheet); }
inline CLocationDlg& LocationPage(CClockPropSheet& sheet) { return *FindPart<CLocationDlg>(sheet); }
inline CConsoleDlg& ConsolePage(CClockPropSheet& sheet) { return *FindPart<CConsoleDlg>(sheet); }
// The Compare dialog while it is open, else null.
inline CCompareDlg* CompareDialog(CClockPropSheet& sheet) {
    for (CCompareDlg* dialog : sheet.findChildren<CCompareDlg*>())
        if (dialog->isVisible()) return dialog;
    return nullptr;
}
// The built-in manual's browser once its window was opened, else null.
inline QTextBrowser* ManualBrowser(CClockPropSheet& sheet) { return sheet.findChild<QTextBrowser*>(); }

// A menu command by its id (the action's data), or null.
inline QAction* MenuAction(CClockPropSheet& sheet, unsigned id) {
    for (QAction* action : MenuBar(sheet)->findChildren<QAction*>())
        if (!action->menu() && !action->isSeparator() && action->data().toUInt() == id) return action;
    return nullptr;
}
inline bool IsMenuEnabled(CClockPropSheet& sheet, unsigned id) {
    const QAction* action = MenuAction(sheet, id);
    return action && action->isEnabled();
}

// The status line: docked in the window, or the window of its own under it
// (one window at a time in these tests).
inline CFloatStatus* StatusLine(CClockPropSheet& sheet) {
    if (auto* docked = FindPart<CFloatStatus>(sheet)) return docked;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* floating = dynamic_cast<CFloatStatus*>(widget)) return floating;
    return nullptr;
}
inline std::string StatusText(CClockPropSheet& sheet) { return StatusLine(sheet)->GetText(); }
inline QString StatusToolTip(CClockPropSheet& sheet) { return StatusLine(sheet)->GetToolTip(); }
