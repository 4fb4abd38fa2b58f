#pragma once
// Buttons of the main window that pass a right-button release on to their
// parent, so that the window's context menu opens over them too.
#include "framework/Control.h"

class CContextMenuButton : public fw::Control {
protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

// The 設定 button.
class CSettingButton : public CContextMenuButton {};
// The "..." button beside the folder field.
class CFolderButton : public CContextMenuButton {};
