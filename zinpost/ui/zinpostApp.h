#pragma once
// The application: prepares the process (common controls, sockets, registry
// key), runs the main window modally and ends when it closes. It owns the
// settings record of the process.
#include "zinpost/engine/AppSettings.h"

#include "framework/Profile.h"

class CzinpostApp {
public:
    CzinpostApp();
    // Always 0: the process ends after it.
    int InitInstance();

    fw::Profile m_profile;  // Software\KORVANTA\<program name>
    CAppSettings m_settings;
    HWND m_hMainWnd = nullptr;
};

// The one application object of the process.
CzinpostApp& TheApp();
