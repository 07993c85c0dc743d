#include "CommPage.h"

CCommPage::CCommPage(unsigned templateId, QWidget* parent) : CToolTipPage(templateId, parent) {}

CCommPage::~CCommPage() = default;

CCommPort* CCommPage::GetPort() const { return m_pSheet ? m_pSheet->GetPort() : nullptr; }

CClockState* CCommPage::GetClockState() const { return m_pSheet ? m_pSheet->GetClockState() : nullptr; }

void CCommPage::PortStateChanged() {
    if (IsCreated()) OnPortStateChanged();
}

void CCommPage::ClockStateChanged() {
    if (IsCreated()) OnClockStateChanged();
}
