#pragma once
// The version dialog: the program icon, name and version, the rights notice.
#include "framework/Dialog.h"

class CAboutDlg : public fw::Dialog {
public:
    CAboutDlg();
};
