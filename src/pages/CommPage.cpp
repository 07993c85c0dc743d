#include "CommPage.h"

#include "LabelledCombo.h"

CCommPage::CCommPage(unsigned templateId, QWidget* parent) : CToolTipPage(templateId, parent) {
    // The pages' lists are named by their labels.
    CLabelledCombo::Install();
}

CCommPage::~CCommPage() = default;

CCommPort* CCommPage::GetPort() const { return m_pSheet ? m_pSheet->GetPort() : nullptr; }

CClockState* CCommPage::GetClockState() const { return m_pSheet ? m_pSheet->GetClockState() : nullptr; }

void CCommPage::PortStateChanged() {
    if (IsCreated()) OnPortStateChanged();
}

void CCommPage::ClockStateChanged() {
    if (IsCreated()) OnClockStateChanged();
}
