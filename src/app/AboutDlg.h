#pragma once
#include "framework/dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
