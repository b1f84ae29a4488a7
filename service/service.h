// The service host: process entry, ServiceMain, the control handler and the
// status record they share.
#pragma once

#include "../support/platform.h"

#include <atomic>
#include <stddef.h>

// The one status record. Its values before ServiceMain runs: own process,
// state 0, stop accepted, no exit codes, check point 0, wait hint 120000.
extern SERVICE_STATUS ServiceStatus;
extern SERVICE_STATUS_HANDLE StatusHandle;

// Set by a stop or shutdown request and when supervision ends; never reset.
extern std::atomic<DWORD> StopRequested;

enum {
    ServiceNameCount = 6,
    ServiceNameSize = 16,
    CommandLineSize = 80,
    WaitHintMs = 120000,
    AcceptStopAndShutdown = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN,
};

// The names of the dispatch table, in its order.
extern char ServiceNames[ServiceNameCount][ServiceNameSize];

// The process entry: moves to the executable's directory and runs the
// dispatcher until the service has stopped.
int HostMain(int argc, char** argv);
// 0, or the error with which neither argument 0's folder nor the host's own
// file's folder could be entered: the start then ends with it.
extern DWORD HostFolderError;

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// Reads the installed status of `name`; only its type is used.
bool QueryServiceType(const char* name, SERVICE_STATUS* status);

// Every change to the status record and every report goes through these, so
// the handler's thread and ServiceMain's never touch the record at once.
void SetServiceState(DWORD state);
void SetStartPending(DWORD installedType);
// The final state: stopped, with the exit codes the service manager is to see.
// From here on the handler leaves the record alone.
void SetStopped(DWORD win32ExitCode, DWORD specificExitCode);
void SetStatusHandle(SERVICE_STATUS_HANDLE handle);
// Sends the whole record as it stands, then the handler's change if one came
// while it was on its way. Returns the first send's result and error.
BOOL ReportStatus();
// The end of a start: stopped with these exit codes, the event closed,
// "Service stopped" logged, and the stopped report last of all.
void FinishService(HANDLE shutdownEvent, DWORD win32ExitCode, DWORD specificExitCode);

// Drive and directory of argv[0] ("C:\DIR\" for C:\DIR\PROG.EXE; empty when
// it holds none).
void ExecutableDirectory(const char* argv0, char* out, size_t size);

// The worker's command line from the launch settings. Returns the length it
// needs; at CommandLineSize or more it does not fit, and `out` stays empty.
size_t BuildCommandLine(char (&out)[CommandLineSize], const char* program, const char* iniPath,
                        bool interactive);
