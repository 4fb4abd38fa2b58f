#pragma once
// The wait dialog shown while the Office installation is checked: it starts
// the check on its worker thread once it is on screen, waits for it (the
// window keeps painting) and closes by itself with OK. The caller then reads
// whether conversion is fully available.
#include "zinpost/engine/ThreadAgent.h"

#include "framework/Dialog.h"

class CNowProcessingDialog : public fw::Dialog {
public:
    CNowProcessingDialog();

    // 0 when the full check found every application, 1 otherwise; read
    // after the dialog ended with OK.
    int m_bPDFUnavailable = 0;

protected:
    BOOL OnInitDialog() override;
    void OnShown() override { OnFinishedShowDialog(); }

private:
    void OnFinishedShowDialog();

    CThreadAgent* m_pAgent = nullptr;
};
