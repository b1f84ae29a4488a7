// SVCCTL.EXE: a small service control tool for trying HOLVSVC.EXE against a
// service manager: start, send controls, query, wait for and watch states.
//
//   svcctl start NAME
//   svcctl control NAME CODE        prints the status ControlService returns
//   svcctl query NAME
//   svcctl wait NAME STATE SECONDS  STATE as a number or a name (RUNNING)
//   svcctl watch NAME SECONDS [-k]  prints each state change with its time;
//                                   ends at the first stop, or with -k goes
//                                   on until the time is up (a keep-alive
//                                   under Wine that does not hold the service)
//   svcctl burst NAME COUNT FIRST USERS
//                                   COUNT interrogates and the user controls
//                                   FIRST..FIRST+USERS-1, interleaved, from
//                                   one handle; reports the answers
//   svcctl cycle NAME COUNT SECONDS [SPREAD_MS]
//                                   start, wait for running, stop, wait for
//                                   stopped, COUNT times; prints the timings.
//                                   Cycle i stays running i*SPREAD_MS/COUNT ms
//                                   before its stop, so the stops meet the
//                                   host's one-second check at every phase
//   svcctl hold FILE SECONDS        holds FILE open without sharing,
//                                   creating it if it does not exist
//
// Exit code 0 on success, 1 on failure or time up, 2 on wrong usage.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { PollMs = 20, KeepPollMs = 100, CyclePollMs = 5, MaxCycles = 1000, StatusTextSize = 160 };

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

// SECONDS in milliseconds, held at about 49 days (the reach of a tick count,
// one short of Sleep's INFINITE) rather than wrapped round to a short time.
static DWORD Milliseconds(DWORD seconds)
{
    return seconds >= 0xFFFFFFFFu / 1000 ? 0xFFFFFFFEu : seconds * 1000;
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
        if (GetTickCount() - begin >= Milliseconds(seconds))
            break;
        Sleep(PollMs);
    }
    CloseServiceHandle(service);
    printf("%s %s after %.2f s\n", reached ? "reached" : "timed out in",
           StateName(status.dwCurrentState), (GetTickCount() - begin) / 1000.0);
    return reached ? 0 : 1;
}

// One look at NAME through a handle opened for it alone, so a long watch
// never keeps a deleted service from going (and being created again).
static bool LookOnce(const char* name, SERVICE_STATUS* status)
{
    SC_HANDLE service = OpenNamed(name, SERVICE_QUERY_STATUS);
    if (!service)
        return false;
    bool ok = Query(service, status);
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    SetLastError(error);
    return ok;
}

// Ends at a stopped state that follows some other state, so a watch begun
// just before the start sees the whole course; or when time is up. With
// `keep` it runs until time is up whatever happens to the service, and a
// service that cannot be looked at (not installed) shows as NONE.
static int Watch(const char* name, DWORD seconds, bool keep)
{
    SC_HANDLE service = NULL;
    if (!keep) {
        service = OpenNamed(name, SERVICE_QUERY_STATUS);
        if (!service)
            return Fail("open", GetLastError());
    }
    DWORD begin = GetTickCount();
    DWORD last = 0xFFFFFFFF;
    DWORD lastError = 0;
    DWORD lastExit[2] = {0, 0};
    bool left = false;
    bool ended = false;
    for (;;) {
        SERVICE_STATUS status = {};
        DWORD error = 0;
        if (keep) {
            if (!LookOnce(name, &status))
                error = GetLastError();
        } else if (!Query(service, &status)) {
            error = GetLastError();
            CloseServiceHandle(service);
            return Fail("query", error);
        }
        DWORD elapsed = GetTickCount() - begin;
        if (error) {
            if (last != 0 || error != lastError)
                printf("%7.2f NONE error=%lu\n", elapsed / 1000.0, (unsigned long)error);
            last = 0;
            lastError = error;
        } else if (status.dwCurrentState != last ||
                   (keep && (status.dwWin32ExitCode != lastExit[0] ||
                             status.dwServiceSpecificExitCode != lastExit[1]))) {
            // A keep-alive's polls are far apart: a start that fails at once
            // may show only as a new exit code on STOPPED.
            last = status.dwCurrentState;
            lastExit[0] = status.dwWin32ExitCode;
            lastExit[1] = status.dwServiceSpecificExitCode;
            printf("%7.2f %s exit=%lu specific=%lu\n", elapsed / 1000.0, StateName(last),
                   (unsigned long)lastExit[0], (unsigned long)lastExit[1]);
        }
        if (last != SERVICE_STOPPED)
            left = true;
        else if (left && !keep) {
            ended = true;
            break;
        }
        if (elapsed >= Milliseconds(seconds))
            break;
        Sleep(keep ? KeepPollMs : PollMs);
    }
    if (service)
        CloseServiceHandle(service);
    if (!ended)
        printf("time up after %lu s\n", (unsigned long)seconds);
    return ended || keep ? 0 : 1;
}

// Interrogates and user controls in one process, so hundreds cost no more
// than a process start. Every control must be answered, each user control
// with the service still running.
static int Burst(const char* name, DWORD interrogates, DWORD first, DWORD users)
{
    SC_HANDLE service = OpenNamed(name, SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL);
    if (!service)
        return Fail("open", GetLastError());
    DWORD begin = GetTickCount();
    DWORD answered[2] = {0, 0};
    DWORD running[2] = {0, 0};
    DWORD sent[2] = {0, 0};
    DWORD total = interrogates + users;
    for (DWORD i = 0; i < total; i++) {
        // Spread the user controls evenly among the interrogates.
        int kind = (sent[1] < users && (sent[0] >= interrogates ||
                                         sent[1] * interrogates <= sent[0] * users)) ? 1 : 0;
        DWORD code = kind ? first + sent[1] : SERVICE_CONTROL_INTERROGATE;
        sent[kind]++;
        SERVICE_STATUS status = {};
        if (ControlService(service, code, &status)) {
            answered[kind]++;
            if (status.dwCurrentState == SERVICE_RUNNING)
                running[kind]++;
        } else {
            printf("control %lu failed error=%lu\n", (unsigned long)code,
                   (unsigned long)GetLastError());
        }
    }
    CloseServiceHandle(service);
    printf("interrogate: %lu of %lu answered, %lu running\n", (unsigned long)answered[0],
           (unsigned long)interrogates, (unsigned long)running[0]);
    printf("user %lu..%lu: %lu of %lu answered, %lu running\n", (unsigned long)first,
           (unsigned long)(first + users - 1), (unsigned long)answered[1], (unsigned long)users,
           (unsigned long)running[1]);
    printf("burst took %.2f s\n", (GetTickCount() - begin) / 1000.0);
    bool all = answered[0] == interrogates && answered[1] == users && running[0] == interrogates &&
               running[1] == users;
    return all ? 0 : 1;
}

static double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

// Polls until STATE or time up; `since` is when the wait's cause happened.
static bool AwaitState(SC_HANDLE service, DWORD state, DWORD seconds, const LARGE_INTEGER& since,
                       double* took)
{
    SERVICE_STATUS status = {};
    LARGE_INTEGER now;
    for (;;) {
        bool ok = Query(service, &status);
        QueryPerformanceCounter(&now);
        *took = Seconds(since, now);
        if (ok && status.dwCurrentState == state)
            return true;
        if (!ok || *took >= seconds)
            return false;
        Sleep(CyclePollMs);
    }
}

static int CompareDoubles(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

// Median and spread of `n` values, which it sorts.
static void PrintSpread(const char* what, double* values, DWORD n)
{
    if (!n)
        return;
    qsort(values, n, sizeof values[0], CompareDoubles);
    printf("%s: median %.3f s, min %.3f s, max %.3f s, q1 %.3f s, q3 %.3f s over %lu\n", what,
           values[n / 2], values[0], values[n - 1], values[n / 4], values[(3 * n) / 4],
           (unsigned long)n);
}

static double StartTimes[MaxCycles];
static double StopTimes[MaxCycles];

// Whole start and stop cycles from one process: each must reach running and
// then stopped within SECONDS. Times count from StartService and from the
// stop control.
static int Cycle(const char* name, DWORD count, DWORD seconds, DWORD spreadMs)
{
    if (count > MaxCycles)
        count = MaxCycles;
    SC_HANDLE service = OpenNamed(name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service)
        return Fail("open", GetLastError());
    DWORD done = 0;
    int result = 0;
    for (DWORD i = 0; i < count; i++) {
        LARGE_INTEGER at;
        QueryPerformanceCounter(&at);
        if (!StartServiceA(service, 0, NULL)) {
            printf("cycle %lu: start failed error=%lu\n", (unsigned long)(i + 1),
                   (unsigned long)GetLastError());
            result = 1;
            break;
        }
        double toRunning = 0, toStopped = 0;
        if (!AwaitState(service, SERVICE_RUNNING, seconds, at, &toRunning)) {
            printf("cycle %lu: not running after %.3f s\n", (unsigned long)(i + 1), toRunning);
            result = 1;
            break;
        }
        if (spreadMs)
            Sleep((DWORD)((unsigned long long)i * spreadMs / count));
        SERVICE_STATUS status = {};
        QueryPerformanceCounter(&at);
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            printf("cycle %lu: stop failed error=%lu\n", (unsigned long)(i + 1),
                   (unsigned long)GetLastError());
            result = 1;
            break;
        }
        if (!AwaitState(service, SERVICE_STOPPED, seconds, at, &toStopped)) {
            printf("cycle %lu: not stopped after %.3f s\n", (unsigned long)(i + 1), toStopped);
            result = 1;
            break;
        }
        printf("cycle %lu: running after %.3f s, stopped %.3f s after the stop\n",
               (unsigned long)(i + 1), toRunning, toStopped);
        StartTimes[done] = toRunning;
        StopTimes[done] = toStopped;
        done++;
    }
    CloseServiceHandle(service);
    printf("cycles completed: %lu of %lu\n", (unsigned long)done, (unsigned long)count);
    PrintSpread("start to running", StartTimes, done);
    PrintSpread("stop to stopped", StopTimes, done);
    return result;
}

// Another process's lock on a file: no sharing at all, for SECONDS.
static int Hold(const char* path, DWORD seconds)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Fail("open", GetLastError());
    printf("holding %s\n", path);
    Sleep(Milliseconds(seconds));
    CloseHandle(file);
    printf("released %s\n", path);
    return 0;
}

static int Usage()
{
    printf("usage: svcctl start NAME | control NAME CODE | query NAME |"
           " wait NAME STATE SECONDS | watch NAME SECONDS [-k] |"
           " burst NAME COUNT FIRST USERS | cycle NAME COUNT SECONDS [SPREAD_MS] |"
           " hold FILE SECONDS\n");
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
        return Watch(name, (DWORD)strtoul(argv[3], NULL, 10), false);
    if (strcmp(command, "watch") == 0 && argc == 5 && strcmp(argv[4], "-k") == 0)
        return Watch(name, (DWORD)strtoul(argv[3], NULL, 10), true);
    if (strcmp(command, "burst") == 0 && argc == 6)
        return Burst(name, (DWORD)strtoul(argv[3], NULL, 10), (DWORD)strtoul(argv[4], NULL, 10),
                     (DWORD)strtoul(argv[5], NULL, 10));
    if (strcmp(command, "cycle") == 0 && (argc == 5 || argc == 6))
        return Cycle(name, (DWORD)strtoul(argv[3], NULL, 10), (DWORD)strtoul(argv[4], NULL, 10),
                     argc == 6 ? (DWORD)strtoul(argv[5], NULL, 10) : 0);
    if (strcmp(command, "hold") == 0 && argc == 4)
        return Hold(name, (DWORD)strtoul(argv[3], NULL, 10));
    return Usage();
}
