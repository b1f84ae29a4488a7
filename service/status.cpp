// The status record, its single reporting funnel, and the control handler
// that runs on the dispatcher's (main) thread.
#include "service.h"

#include "../support/log.h"

SERVICE_STATUS ServiceStatus = {SERVICE_WIN32_OWN_PROCESS, 0, SERVICE_ACCEPT_STOP, 0, 0, 0, WaitHintMs};
SERVICE_STATUS_HANDLE StatusHandle;
std::atomic<DWORD> StopRequested{0};

// Both threads change and report the record: this lock makes each change and
// each report whole, so a report never carries a half-written record.
static SRWLOCK StatusLock = SRWLOCK_INIT;

void SetServiceState(DWORD state)
{
    AcquireSRWLockExclusive(&StatusLock);
    ServiceStatus.dwCurrentState = state;
    ReleaseSRWLockExclusive(&StatusLock);
}

void SetStartPending(DWORD installedType)
{
    AcquireSRWLockExclusive(&StatusLock);
    // Only the interactive bit is taken from the installed type.
    ServiceStatus.dwServiceType |= installedType & SERVICE_INTERACTIVE_PROCESS;
    ServiceStatus.dwCheckPoint = 0;
    ServiceStatus.dwServiceSpecificExitCode = 0;
    ServiceStatus.dwWin32ExitCode = 0;
    ServiceStatus.dwControlsAccepted = AcceptStopAndShutdown;
    ServiceStatus.dwWaitHint = WaitHintMs;
    ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
    ReleaseSRWLockExclusive(&StatusLock);
}

void SetStoppedWithError(DWORD error)
{
    AcquireSRWLockExclusive(&StatusLock);
    ServiceStatus.dwWin32ExitCode = error;
    ServiceStatus.dwCurrentState = SERVICE_STOPPED;
    ReleaseSRWLockExclusive(&StatusLock);
}

void SetStatusHandle(SERVICE_STATUS_HANDLE handle)
{
    AcquireSRWLockExclusive(&StatusLock);
    StatusHandle = handle;
    ReleaseSRWLockExclusive(&StatusLock);
}

BOOL ReportStatus()
{
    AcquireSRWLockExclusive(&StatusLock);
    BOOL ok = SetServiceStatus(StatusHandle, &ServiceStatus);
    // The caller may log the report's error; keep it past the release.
    DWORD error = GetLastError();
    ReleaseSRWLockExclusive(&StatusLock);
    SetLastError(error);
    return ok;
}

void WINAPI ServiceCtrlHandler(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        // ServiceMain sees the flag within a second and signals the worker.
        StopRequested = 1;
        SetServiceState(SERVICE_STOP_PENDING);
        LogMessage("Service stop request received");
        ReportStatus();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        ReportStatus();
        break;
    default:
        LogMessage("Service request %u received", (unsigned)control);
        ReportStatus();
        break;
    }
}
