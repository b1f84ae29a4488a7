// SVCCTL.EXE: a small service control tool for trying HOLVSVC.EXE against a
// service manager: start, send controls, query, wait for and watch states.
//
//   svcctl start NAME
//   svcctl control NAME CODE        prints the status ControlService returns
//   svcctl query NAME
//   svcctl wait NAME STATE SECONDS  STATE as a number or a name (RUNNING)
//   svcctl watch NAME SECONDS       prints each state change with its time
//
// Exit code 0 on success, 1 on failure or time up, 2 on wrong usage.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { PollMs = 20, StatusTextSize = 160 };

static const char* const StateNames[] = {
    "0", "STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING",
    "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED",
};

static const char* StateName(DWORD state)
{
    return state < sizeof StateNames / sizeof StateNames[0] ? StateNames[state] : "?";
}

// A state given as a number or as one of the names above; -1 if neither.
static long ParseState(const char* text)
{
    for (size_t i = 0; i < sizeof StateNames / sizeof StateNames[0]; i++)
        if (lstrcmpiA(text, StateNames[i]) == 0)
            return (long)i;
    char* end = NULL;
    long value = strtol(text, &end, 0);
    return (end != text && *end == 0) ? value : -1;
}

static void FormatStatus(char (&out)[StatusTextSize], const SERVICE_STATUS& s)
{
    snprintf(out, sizeof out,
             "%s state=%lu type=0x%lx controls=0x%lx exit=%lu specific=%lu checkpoint=%lu wait=%lu",
             StateName(s.dwCurrentState), (unsigned long)s.dwCurrentState,
             (unsigned long)s.dwServiceType, (unsigned long)s.dwControlsAccepted,
             (unsigned long)s.dwWin32ExitCode, (unsigned long)s.dwServiceSpecificExitCode,
             (unsigned long)s.dwCheckPoint, (unsigned long)s.dwWaitHint);
}

static int Fail(const char* what, DWORD error)
{
    printf("%s failed error=%lu\n", what, (unsigned long)error);
    return 1;
}

// Opens NAME with `access`; the manager handle is closed at once, the service
// handle is the caller's to close.
static SC_HANDLE OpenNamed(const char* name, DWORD access)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return NULL;
    SC_HANDLE service = OpenServiceA(manager, name, access);
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    SetLastError(error);
    return service;
}

static bool Query(SC_HANDLE service, SERVICE_STATUS* status)
{
    return QueryServiceStatus(service, status) != FALSE;
}

static int Start(const char* name)
{
    SC_HANDLE service = OpenNamed(name, SERVICE_START);
    if (!service)
        return Fail("open", GetLastError());
    BOOL ok = StartServiceA(service, 0, NULL);
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    if (!ok)
        return Fail("start", error);
    printf("start %s: ok\n", name);
    return 0;
}

static int Control(const char* name, DWORD code)
{
    SC_HANDLE service = OpenNamed(name, SERVICE_STOP | SERVICE_INTERROGATE |
                                            SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS);
    if (!service)
        return Fail("open", GetLastError());
    SERVICE_STATUS status = {};
    BOOL ok = ControlService(service, code, &status);
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    if (!ok)
        return Fail("control", error);
    char text[StatusTextSize];
    FormatStatus(text, status);
    printf("control %lu: %s\n", (unsigned long)code, text);
    return 0;
}

static int QueryCommand(const char* name)
{
    SC_HANDLE service = OpenNamed(name, SERVICE_QUERY_STATUS);
    if (!service)
        return Fail("open", GetLastError());
    SERVICE_STATUS status = {};
    bool ok = Query(service, &status);
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    if (!ok)
        return Fail("query", error);
    char text[StatusTextSize];
    FormatStatus(text, status);
    printf("%s: %s\n", name, text);
    return 0;
}

static int Wait(const char* name, long state, DWORD seconds)
{
    SC_HANDLE service = OpenNamed(name, SERVICE_QUERY_STATUS);
    if (!service)
        return Fail("open", GetLastError());
    DWORD begin = GetTickCount();
    SERVICE_STATUS status = {};
    bool reached = false;
    for (;;) {
        if (!Query(service, &status)) {
            DWORD error = GetLastError();
            CloseServiceHandle(service);
            return Fail("query", error);
        }
        if ((long)status.dwCurrentState == state) {
            reached = true;
            break;
        }
        if (GetTickCount() - begin >= seconds * 1000)
            break;
        Sleep(PollMs);
    }
    CloseServiceHandle(service);
    printf("%s %s after %.2f s\n", reached ? "reached" : "timed out in",
           StateName(status.dwCurrentState), (GetTickCount() - begin) / 1000.0);
    return reached ? 0 : 1;
}

// Ends at a stopped state that follows some other state, so a watch begun
// just before the start sees the whole course; or when time is up.
static int Watch(const char* name, DWORD seconds)
{
    SC_HANDLE service = OpenNamed(name, SERVICE_QUERY_STATUS);
    if (!service)
        return Fail("open", GetLastError());
    DWORD begin = GetTickCount();
    DWORD last = 0xFFFFFFFF;
    bool left = false;
    bool ended = false;
    for (;;) {
        SERVICE_STATUS status = {};
        if (!Query(service, &status)) {
            DWORD error = GetLastError();
            CloseServiceHandle(service);
            return Fail("query", error);
        }
        DWORD elapsed = GetTickCount() - begin;
        if (status.dwCurrentState != last) {
            last = status.dwCurrentState;
            printf("%7.2f %s exit=%lu\n", elapsed / 1000.0, StateName(last),
                   (unsigned long)status.dwWin32ExitCode);
            fflush(stdout);
        }
        if (last != SERVICE_STOPPED)
            left = true;
        else if (left) {
            ended = true;
            break;
        }
        if (elapsed >= seconds * 1000)
            break;
        Sleep(PollMs);
    }
    CloseServiceHandle(service);
    if (!ended)
        printf("time up after %lu s\n", (unsigned long)seconds);
    return ended ? 0 : 1;
}

static int Usage()
{
    printf("usage: svcctl start NAME | control NAME CODE | query NAME |"
           " wait NAME STATE SECONDS | watch NAME SECONDS\n");
    return 2;
}

int main(int argc, char** argv)
{
    // Output goes to files in tests; each line should land as it happens.
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 3)
        return Usage();
    const char* command = argv[1];
    const char* name = argv[2];
    if (strcmp(command, "start") == 0 && argc == 3)
        return Start(name);
    if (strcmp(command, "query") == 0 && argc == 3)
        return QueryCommand(name);
    if (strcmp(command, "control") == 0 && argc == 4)
        return Control(name, (DWORD)strtoul(argv[3], NULL, 0));
    if (strcmp(command, "wait") == 0 && argc == 5) {
        long state = ParseState(argv[3]);
        if (state < 0)
            return Usage();
        return Wait(name, state, (DWORD)strtoul(argv[4], NULL, 10));
    }
    if (strcmp(command, "watch") == 0 && argc == 4)
        return Watch(name, (DWORD)strtoul(argv[3], NULL, 10));
    return Usage();
}
