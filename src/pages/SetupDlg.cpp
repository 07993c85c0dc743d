#include "SetupDlg.h"

CSetupDlg::CSetupDlg(QWidget* parent) : CCommPage(129, parent) {}

CSetupDlg::~CSetupDlg() = default;
