// The status record, its single reporting funnel, and the control handler
// that runs on the dispatcher's (main) thread.
#include "service.h"

#include "../support/log.h"

SERVICE_STATUS ServiceStatus = {SERVICE_WIN32_OWN_PROCESS, 0, SERVICE_ACCEPT_STOP, 0, 0, 0, WaitHintMs};
SERVICE_STATUS_HANDLE StatusHandle;
std::atomic<DWORD> StopRequested{0};

// Both threads change and report the record: this lock makes each change,
// each report and the handler's change-and-report whole, so a report never
// carries a half-written record and nothing overtakes the stopped state.
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

void SetStopped(DWORD win32ExitCode, DWORD specificExitCode)
{
    AcquireSRWLockExclusive(&StatusLock);
    ServiceStatus.dwWin32ExitCode = win32ExitCode;
    ServiceStatus.dwServiceSpecificExitCode = specificExitCode;
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
    // The whole of the handler's work is one step under the lock. Once
    // ServiceMain has set the stopped state, a late control neither changes
    // nor reports the record: a stop pending report after stopped would leave
    // the process waiting in the dispatcher for ever.
    AcquireSRWLockExclusive(&StatusLock);
    if (ServiceStatus.dwCurrentState == SERVICE_STOPPED) {
        ReleaseSRWLockExclusive(&StatusLock);
        return;
    }
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        // ServiceMain sees the flag within a second and signals the worker.
        StopRequested = 1;
        ServiceStatus.dwCurrentState = SERVICE_STOP_PENDING;
        LogMessage("Service stop request received");
        SetServiceStatus(StatusHandle, &ServiceStatus);
        break;
    case SERVICE_CONTROL_INTERROGATE:
        SetServiceStatus(StatusHandle, &ServiceStatus);
        break;
    default:
        LogMessage("Service request %u received", (unsigned)control);
        SetServiceStatus(StatusHandle, &ServiceStatus);
        break;
    }
    ReleaseSRWLockExclusive(&StatusLock);
}
