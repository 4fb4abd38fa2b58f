// Resource identifiers of zinpostresult.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC                      (-1)
#endif

// Version resource
#define VS_VERSION_INFO_ID              1

// The result dialog and its controls
#define IDD_DISPLAY_RESULT              1000
#define IDC_RESULT_ICON                 1000
#define IDC_RESULT_DETAIL               1021
#define IDC_RESULT_SUMMARY              1022
