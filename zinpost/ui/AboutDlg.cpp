#include "zinpost/ui/AboutDlg.h"

#include "zinpost/ui/resource.h"

CAboutDlg::CAboutDlg() : fw::Dialog(IDD_ABOUTBOX) {}
