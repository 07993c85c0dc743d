#include "CommonPage.h"

CCommonPage::CCommonPage(QWidget* parent) : CCommPage(133, parent) {}

CCommonPage::~CCommonPage() = default;
