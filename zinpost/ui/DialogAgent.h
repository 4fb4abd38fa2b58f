#pragma once
// The worker-thread agent a dialog cannot work without.
#include "zinpost/engine/ThreadAgent.h"

#include "framework/Dialog.h"

// The agent; when there is none (its semaphores could not be made), the user
// is told and `dialog` ends with 0, and the result is null.
CThreadAgent* AgentOrEndDialog(fw::Dialog& dialog);
