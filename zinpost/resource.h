// Resource identifiers of zinpost: its windows, strings and commands. The
// engine and the windows both name them.
#pragma once

// Version resource
#define VS_VERSION_INFO_ID              1

#ifndef IDC_STATIC
#define IDC_STATIC                      (-1)
#endif

// Menus, dialogs, pictures, icons
#define IDR_POPUP_MENU                  4
#define IDD_ABOUTBOX                    100
#define IDD_ZINPOST_DIALOG              102
#define IDD_DEFAULT_SETTING             132
#define IDD_SERVER_SETTING              134
#define IDB_DROP_PICTURE                137
#define IDB_FOLDER_IMAGES               140
#define IDR_MAINFRAME                   141
#define IDD_FOLDER_SELECT               146
#define IDD_POPUP                       151
#define IDD_NOW_PROCESSING              156
#define IDD_FINISHED_PROCESSING         157
#define IDD_PROXY_SETTING               158

// Controls of the main window
#define IDC_SETTING_BUTTON              1012
#define IDC_DROP_PICTURE                1015
#define IDC_UPLOAD_PROGRESS             1016
#define IDC_STATUS_LABEL                1018
#define IDC_ABOUT_SPARE                 1019
#define IDC_SPARE_LABEL                 1020
#define IDC_FILE_NAME_BUTTON            1022
#define IDC_FOLDER_BUTTON               1075
#define IDC_FOLDER_EDIT                 1076
#define IDC_FOLDER_CAPTION              1085
#define IDC_PROGRESS_CANCEL             1086

// Server settings dialog
#define IDC_SERVER_URL                  1008
#define IDC_SERVER_USER                 1009
#define IDC_SERVER_PASSWORD             1010
#define IDC_SERVER_HEADER               1029
#define IDC_USER_HEADER                 1030
#define IDC_SERVER_EXAMPLE              1033

// Proxy settings dialog
#define IDC_PROXY_ADDRESS               160
#define IDC_PROXY_PORT                  162
#define IDC_PROXY_EXCEPTIONS            164
#define IDC_PROXY_NONE                  167
#define IDC_PROXY_SYSTEM                168
#define IDC_PROXY_MANUAL                169
#define IDC_PROXY_FRAME                 1070
#define IDC_PROXY_HEADER                1071

// Default settings dialog
#define IDC_PROXY_LABEL                 170
#define IDC_PROXY_SUMMARY               171
#define IDC_PROXY_CHANGE                172
#define IDC_SERVER_NAME                 1000
#define IDC_SERVER_CHANGE               1001
#define IDC_FILE_ENCRYPT                1002
#define IDC_DELETE_DATE                 1005
#define IDC_DELETE_DAYS_SPIN            1006
#define IDC_DISPLAY_RESULT              1021
#define IDC_FOLDER_INSTRUCTION          1032
#define IDC_FOLDER_SELECT               1034
#define IDC_CONVERT_PDF                 1036
#define IDC_FOLDER_TITLE                1037
#define IDC_PERIOD_DATE                 1040
#define IDC_PERIOD_UNLIMITED            1042
#define IDC_PERIOD_DAYS                 1043
#define IDC_CONNECTION_TITLE            1046
#define IDC_SERVER_URL_LABEL            1047
#define IDC_CONTENT_TITLE               1048
#define IDC_FOLDER_TITLE_LABEL          1049
#define IDC_PERIOD_LABEL                1050
#define IDC_SECURITY_LABEL              1051
#define IDC_UPLOAD_TITLE                1052
#define IDC_PDF_LABEL                   1053
#define IDC_RESULT_LABEL                1054
#define IDC_CONNECTION_BAR              1059
#define IDC_CONTENT_BAR                 1060
#define IDC_UPLOAD_BAR                  1061
#define IDC_DELETE_DAYS_LABEL           1062
#define IDC_DELETE_DAYS                 1064
#define IDC_UNLIMITED_LABEL             1065

// Folder selection dialog
#define IDC_EXPAND_COLLAPSE             1023
#define IDC_FOLDER_TREE                 1035

// Notice dialogs
#define IDC_NOTICE_DETAIL_LABEL         1098
#define IDC_NOTICE_LIST                 1097
#define IDC_NOTICE_TEXT                 1096
#define IDC_NOTICE_ICON                 1100
#define IDC_NOTICE_DETAIL               1104

// Commands
#define IDM_ABOUTBOX                    0x0010
#define ID_MENU_DEFAULT_SETTING         32773
#define ID_MENU_ABOUT                   32774
#define ID_MENU_TOPMOST                 32776

// Strings
#define IDS_ABOUTBOX                    101
#define IDS_LOCK_FAILED                 102
#define IDS_APP_CAPTION                 104
#define IDS_SOCKETS_INIT_FAILED         105
#define IDS_NO_RESPONSE_DATA            107
#define IDS_RESPONSE_PARSE_FAILED       108
#define IDS_LOGIN_FAILED                109
#define IDS_UPLOAD_FAILED               114
#define IDS_SERVER_MESSAGE_UNREADABLE   115
#define IDS_NO_UPLOAD_TARGET            116
#define IDS_FOLDER_INFO_UNAVAILABLE     117
#define IDS_NO_FOLDER_INFO              119
#define IDS_CONNECTION_NOT_SET          120
#define IDS_SERVER_URL_INVALID          121
#define IDS_SERVER_SETTING_WRONG        122
#define IDS_TOO_MANY_FILES              124
#define IDS_FILE_TOO_LARGE              125
#define IDS_LOGOUT_FAILED               127
#define IDS_PERIOD_TOO_LONG             128
#define IDS_PERIOD_SET_TO               129
#define IDS_PERIOD_ERROR_CAPTION        130
#define IDS_OS_NOT_SUPPORTED            131
#define IDS_NOT_INSTALLED               135
#define IDS_VERSION_NOT_SUPPORTED       138
#define IDS_PDF_CONVERT_FAILED          144
#define IDS_UPLOAD_CANCELLED            147
#define IDS_PROXY_NOT_SET               149
#define IDS_DIALOG_CREATE_FAILED        152
#define IDS_PERIOD_INVALID              159
#define IDS_PROXY_SETTING_WRONG         161
#define IDS_PROXY_ENTER_ADDRESS_PORT    163
#define IDS_SEND_FAILED                 166
#define IDS_SERVER_CERTIFICATE_CHANGED  167
// Server error n has the text IDS_SERVER_ERROR_BASE + n.
#define IDS_SERVER_ERROR_BASE           10000
