// Refreshes the worker program: a newer local HOLV32IP.EXE is copied over the -e target.
#include "launch.h"
#include "launch_steps.h"

#include "support/log.h"
#include "support/platform.h"

#include <string.h>

static const char LocalProgram[] = "HOLV32IP.EXE";

void DecideRefresh(RefreshPlan* plan)
{
    memset(plan, 0, sizeof *plan);
    plan->program = LocalProgram;
    if (!ProgramPath || !ProgramPath[0])
        return;
    plan->targetNamed = true;

    // A target that is not found counts as created at time 0, before any file.
    WIN32_FIND_DATAA found;
    memset(&found, 0, sizeof found);
    HANDLE search = FindFirstFileA(ProgramPath, &found);
    if (search != INVALID_HANDLE_VALUE) {
        plan->targetFound = true;
        plan->targetCreated = found.ftCreationTime;
        FindClose(search);
    }

    memset(&found, 0, sizeof found);
    search = FindFirstFileA(LocalProgram, &found);
    if (search == INVALID_HANDLE_VALUE) {
        // Without the update source the -e target is not used at all.
        return;
    }
    FindClose(search);
    plan->localFound = true;
    plan->localCreated = found.ftCreationTime;
    plan->program = ProgramPath;
    plan->copy = CompareFileTime(&plan->targetCreated, &plan->localCreated) < 0;
}

void RefreshWorkerProgram()
{
    RefreshPlan plan;
    DecideRefresh(&plan);
    ProgramPath = plan.program;
    if (!plan.copy)
        return;
    if (CopyFileA(LocalProgram, ProgramPath, FALSE))
        LogMessage("New EXE detected, copied %s to %s", LocalProgram, ProgramPath);
    else
        LogMessage("New EXE detected, copy from %s to %s failed, reason=%d", LocalProgram, ProgramPath,
                   (int)GetLastError());
}
