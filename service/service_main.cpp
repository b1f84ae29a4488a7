// ServiceMain: start pending, start the worker, supervise it once a second,
// stop it through the shutdown event, report stopped.
#include "service.h"

#include "../launch/launch.h"
#include "../support/log.h"
#include "shutdown_event.h"

#include <stdio.h>
#include <string.h>

enum {
    OpenAttempts = 30,
    OpenPauseMs = 100,
    CheckPauseMs = 1000,
};

bool QueryServiceType(const char* name, SERVICE_STATUS* status)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, GENERIC_READ);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (!service) {
        DWORD error = GetLastError();
        CloseServiceHandle(manager);
        SetLastError(error);
        return false;
    }
    BOOL ok = QueryServiceStatus(service, status);
    // The failing call's error must survive the closing of the handles.
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    SetLastError(error);
    return ok != FALSE;
}

// The end of every start that registered: stopped is set first, so a late
// stop cannot overwrite it, then the event is closed and "Service stopped"
// logged, and the stopped report comes last: once the service manager sees
// it, the process may end at once.
void FinishService(HANDLE shutdownEvent, DWORD win32ExitCode, DWORD specificExitCode)
{
    SetStopped(win32ExitCode, specificExitCode);
    if (shutdownEvent)
        CloseHandle(shutdownEvent);
    LogMessage("Service stopped");
    ReportStatus();
}

// Waits for the worker's handle: 30 attempts, 100 ms apart.
static HANDLE OpenWorker(DWORD processId)
{
    for (int attempt = 0; attempt < OpenAttempts; attempt++) {
        Sleep(OpenPauseMs);
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
        if (process)
            return process;
    }
    Sleep(OpenPauseMs);
    return NULL;
}

// The worker's exit code; 0 when it cannot be read, which ends a wait too.
static DWORD WorkerExitCode(HANDLE process)
{
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) ? code : 0;
}

// Running until the worker ends or a stop is requested; then, on a stop,
// signal the event and wait, with no time limit, until the worker has ended.
// Returns the exit code of a worker that ended by itself, 0 after a stop.
static DWORD SuperviseWorker(HANDLE process, HANDLE shutdownEvent)
{
    SetServiceState(SERVICE_RUNNING);
    ReportStatus();
    DWORD exitCode = 0;
    for (;;) {
        Sleep(CheckPauseMs);
        if (StopRequested)
            break;
        exitCode = WorkerExitCode(process);
        if (exitCode != STILL_ACTIVE)
            break;
        ReportStatus();
    }
    if (StopRequested) {
        exitCode = 0;
        SetServiceState(SERVICE_STOP_PENDING);
        ReportStatus();
        if (shutdownEvent)
            SetEvent(shutdownEvent);
        for (;;) {
            Sleep(CheckPauseMs);
            if (WorkerExitCode(process) != STILL_ACTIVE)
                break;
            ReportStatus();
        }
    } else {
        LogMessage("Service exited");
    }
    StopRequested = 1;
    return exitCode;
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv)
{
    const char* name = (argc > 0 && argv && argv[0]) ? argv[0] : "";
    if (HostFolderError) {
        // No folder of its own: nothing is read, written or started, and the
        // service manager shows the error.
        SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(name, ServiceCtrlHandler);
        if (handle) {
            SetStatusHandle(handle);
            SetStopped(HostFolderError, 0);
            ReportStatus();
        }
        return;
    }
    LogMessage("Starting service %s", name);

    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(name, ServiceCtrlHandler);
    if (!handle) {
        LogMessage("Service start failed error=%X", (unsigned)GetLastError());
        LogMessage("Service stopped");
        return;
    }
    SetStatusHandle(handle);

    SERVICE_STATUS installed = {};
    if (!QueryServiceType(name, &installed)) {
        DWORD error = GetLastError();
        LogMessage("GetServiceStatus failed error=%d", (int)error);
        FinishService(NULL, error, 0);
        return;
    }

    SetStartPending(installed.dwServiceType);
    if (!ReportStatus()) {
        DWORD error = GetLastError();
        LogMessage("SetServiceStatus failed error=%d", (int)error);
        FinishService(NULL, error, 0);
        return;
    }

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    HANDLE shutdownEvent = OpenShutdownEvent();
    SetEnvironmentVariableA("HOLVService", name);
    PrepareLaunch(name);

    // The type field is written only by this thread (the handler changes the state).
    bool interactive = (ServiceStatus.dwServiceType & SERVICE_INTERACTIVE_PROCESS) != 0;
    char commandLine[CommandLineSize];
    bool fits = BuildCommandLine(commandLine, ProgramPath, IniPath, interactive) < CommandLineSize;
    LogMessage("Service starting %s using inifile %s", ProgramPath, IniPath);

    PROCESS_INFORMATION worker = {};
    BOOL started = FALSE;
    if (fits) {
        started = CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &worker);
    } else {
        // Too long for the command line: refused whole rather than cut.
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }

    // A worker that never ran is a failure, and the service manager is told
    // so through the stopped report's exit code.
    DWORD failure = 0;
    HANDLE process = NULL;
    if (!started) {
        failure = GetLastError();
        LogMessage("%s not started! error=%d", ProgramPath, (int)failure);
        StopRequested = 1;
    } else {
        // The start's own process and thread handles stay open, unused, until
        // the host process ends.
        process = OpenWorker(worker.dwProcessId);
    }

    DWORD workerExitCode = 0;
    if (process)
        workerExitCode = SuperviseWorker(process, shutdownEvent);

    if (!StopRequested) {
        failure = GetLastError();
        LogMessage("Could not get process handle to service, error=%d", (int)failure);
    }

    // A worker that failed on its own is a service failure, so that the
    // service manager's recovery actions can start it again.
    if (workerExitCode)
        FinishService(shutdownEvent, ERROR_SERVICE_SPECIFIC_ERROR, workerExitCode);
    else
        FinishService(shutdownEvent, failure, 0);
}
