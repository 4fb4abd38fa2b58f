#include "zinpost/ui/AboutDlg.h"

#include "zinpost/resource.h"

CAboutDlg::CAboutDlg() : fw::Dialog(IDD_ABOUTBOX) {}
