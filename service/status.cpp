// The status record, its single reporting funnel, and the control handler
// that runs on the dispatcher's (main) thread.
#include "service.h"

#include "../support/log.h"

SERVICE_STATUS ServiceStatus = {SERVICE_WIN32_OWN_PROCESS, 0, SERVICE_ACCEPT_STOP, 0, 0, 0, WaitHintMs};
SERVICE_STATUS_HANDLE StatusHandle;
std::atomic<DWORD> StopRequested{0};

// Both threads change and report the record. A report is a call into the
// service manager that may wait for the dispatcher's thread (the stopped
// report of a process's last service does), so ServiceMain never holds the
// lock across one: it copies the record under the lock, marks the copy in
// flight and sends it without the lock. While a copy is in flight, a change
// the handler makes is not sent by the handler, where it could land before
// the older copy, but by ServiceMain right after its own report returns. The
// handler otherwise reports under the lock; ServiceMain may wait for that,
// since the handler's reports never wait for ServiceMain. So the handler only
// ever waits for ServiceMain to change or copy the record, every report is
// whole, none carries an older state than one already made, and nothing
// follows the stopped report.
static SRWLOCK StatusLock = SRWLOCK_INIT;
static bool ReportInFlight, ChangedInFlight;

// A stop that came while the start was pending (Wine's service manager
// delivers one) leaves the state stop pending: start pending or running after
// it would report the service going back.
static DWORD Onward(DWORD state)
{
    bool back = ServiceStatus.dwCurrentState == SERVICE_STOP_PENDING &&
                (state == SERVICE_START_PENDING || state == SERVICE_RUNNING);
    return back ? SERVICE_STOP_PENDING : state;
}

void SetServiceState(DWORD state)
{
    AcquireSRWLockExclusive(&StatusLock);
    ServiceStatus.dwCurrentState = Onward(state);
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
    ServiceStatus.dwCurrentState = Onward(SERVICE_START_PENDING);
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
    SERVICE_STATUS sent = ServiceStatus;
    ReportInFlight = true;
    ReleaseSRWLockExclusive(&StatusLock);
    BOOL ok = SetServiceStatus(StatusHandle, &sent);
    // The caller may log this report's error; keep it past the ones below.
    DWORD error = GetLastError();
    for (bool again = true; again;) {
        AcquireSRWLockExclusive(&StatusLock);
        again = ChangedInFlight;
        ChangedInFlight = false;
        ReportInFlight = again;
        sent = ServiceStatus;
        ReleaseSRWLockExclusive(&StatusLock);
        if (again)
            SetServiceStatus(StatusHandle, &sent);
    }
    SetLastError(error);
    return ok;
}

void WINAPI ServiceCtrlHandler(DWORD control)
{
    // Once ServiceMain has set the stopped state, a late control neither
    // changes nor reports the record: a stop pending report after stopped
    // would leave the process waiting in the dispatcher for ever.
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
        ChangedInFlight = ReportInFlight;
        break;
    case SERVICE_CONTROL_INTERROGATE:
        break;
    default:
        LogMessage("Service request %u received", (unsigned)control);
        break;
    }
    // With no change waiting for ServiceMain, the record is the copy in
    // flight, if any, and may be reported beside it.
    if (!ChangedInFlight)
        SetServiceStatus(StatusHandle, &ServiceStatus);
    ReleaseSRWLockExclusive(&StatusLock);
}
