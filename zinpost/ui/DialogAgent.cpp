#include "zinpost/ui/DialogAgent.h"

#include "zinpost/ui/MessageBoxes.h"
#include "zinpost/resource.h"

CThreadAgent* AgentOrEndDialog(fw::Dialog& dialog) {
    CThreadAgent* agent = CThreadAgent::GetInstance();
    if (!agent) {
        ShowMessageById(IDS_DIALOG_CREATE_FAILED);
        dialog.EndDialog(0);
    }
    return agent;
}
