// Direct base of the four pages: the link to the sheet, and through it to the
// one port and the one configuration, plus the page's message entry.
#pragma once

#include <cstdint>

#include "QtMessageTarget.h"
#include "ToolTipPage.h"

class CClockPropSheet;
class CCommPort;
class CClockState;

class CCommPage : public CToolTipPage {
public:
    explicit CCommPage(unsigned templateId, QWidget* parent = nullptr);
    ~CCommPage() override;

    void SetSheet(CClockPropSheet* sheet) { m_pSheet = sheet; }
    CClockPropSheet* GetSheet() const { return m_pSheet; }
    CCommPort* GetPort() const;
    CClockState* GetClockState() const;

    // Where the sheet and the port's reader thread send this page's messages.
    CMessageTarget* GetTarget() { return &m_target; }

    // The page's message handling, on the GUI thread: WM_PORTSTATECHANGED and
    // WM_CLOCKSTATECHANGED go to the two hooks below; a page that takes more
    // (the Console page: WM_COMMDATA) overrides this.
    virtual std::intptr_t OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

    // The sheet calls these when the page's tab becomes the current one and
    // when another tab takes its place.
    virtual void OnSetActive() {}
    virtual void OnKillActive() {}

protected:
    virtual void OnPortStateChanged(std::uintptr_t wParam, std::intptr_t lParam);
    virtual void OnClockStateChanged(std::uintptr_t wParam, std::intptr_t lParam);

private:
    CClockPropSheet* m_pSheet = nullptr;
    CQtMessageTarget m_target;
};
