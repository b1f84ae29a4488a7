// Refreshes the worker program: a newer local HOLV32IP.EXE is copied over the -e target.
#include "launch.h"
#include "launch_steps.h"

#include "support/log.h"
#include "support/platform.h"

#include <string.h>

static const char LocalProgram[] = "HOLV32IP.EXE";

void RefreshWorkerProgram()
{
    if (!ProgramPath || !ProgramPath[0]) {
        ProgramPath = LocalProgram;
        return;
    }

    // A target that is not found counts as created at time 0, before any file.
    WIN32_FIND_DATAA target;
    memset(&target, 0, sizeof target);
    FILETIME targetCreated = {0, 0};
    HANDLE search = FindFirstFileA(ProgramPath, &target);
    if (search != INVALID_HANDLE_VALUE) {
        targetCreated = target.ftCreationTime;
        FindClose(search);
    }

    WIN32_FIND_DATAA local;
    memset(&local, 0, sizeof local);
    search = FindFirstFileA(LocalProgram, &local);
    if (search == INVALID_HANDLE_VALUE) {
        // Without the update source the -e target is not used at all.
        ProgramPath = LocalProgram;
        return;
    }
    FindClose(search);

    if (CompareFileTime(&targetCreated, &local.ftCreationTime) >= 0)
        return;

    if (CopyFileA(LocalProgram, ProgramPath, FALSE))
        LogMessage("New EXE detected, copied %s to %s", LocalProgram, ProgramPath);
    else
        LogMessage("New EXE detected, copy from %s to %s failed, reason=%d", LocalProgram, ProgramPath,
                   (int)GetLastError());
}
