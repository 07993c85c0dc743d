#include "CommPage.h"

#include "ClockPropSheet.h"
#include "Messages.h"

CCommPage::CCommPage(unsigned templateId, QWidget* parent)
    : CToolTipPage(templateId, parent),
      m_target([this](unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
          return OnMessage(msg, wParam, lParam);
      }) {}

CCommPage::~CCommPage() = default;

CCommPort* CCommPage::GetPort() const { return m_pSheet ? m_pSheet->GetPort() : nullptr; }

CClockState* CCommPage::GetClockState() const { return m_pSheet ? m_pSheet->GetClockState() : nullptr; }

std::intptr_t CCommPage::OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (msg) {
    case WM_PORTSTATECHANGED:
        OnPortStateChanged(wParam, lParam);
        break;
    case WM_CLOCKSTATECHANGED:
        OnClockStateChanged(wParam, lParam);
        break;
    default:
        break;
    }
    return 0;
}

void CCommPage::OnPortStateChanged(std::uintptr_t, std::intptr_t) {}

void CCommPage::OnClockStateChanged(std::uintptr_t, std::intptr_t) {}
