// Direct base of the four pages: the link to the window that holds them (its
// host interface), and through it to the one port and the one configuration.
#pragma once

#include "PageHost.h"
#include "ToolTipPage.h"

class CCommPort;
class CClockState;

class CCommPage : public CToolTipPage {
public:
    explicit CCommPage(unsigned templateId, QWidget* parent = nullptr);
    ~CCommPage() override;

    // Set once by the window, before any page is shown; not owned.
    void SetSheet(IPageHost* sheet) { m_pSheet = sheet; }
    IPageHost* GetSheet() const { return m_pSheet; }
    CCommPort* GetPort() const;
    CClockState* GetClockState() const;

    // The port or the configuration changed. A page that has never been shown
    // has nothing to refresh yet: it brings itself up to date when first shown.
    void PortStateChanged();
    void ClockStateChanged();

    // The window calls these when the page's tab becomes the current one and
    // when another tab takes its place.
    virtual void OnSetActive() {}
    virtual void OnKillActive() {}

protected:
    virtual void OnPortStateChanged() {}
    virtual void OnClockStateChanged() {}

private:
    IPageHost* m_pSheet = nullptr;
};
