/* minimal_worker.c: a complete worker for HOLVSVC.EXE. It keeps a log of its
 * own, works in steps between looks at the host's shutdown event, and ends
 * with exit code 0 once the event is signalled. Build it beside
 * holvsvc_shutdown_event.h; it goes into the service's folder as HOLV32IP.EXE:
 *   32-bit ZIP:  i686-w64-mingw32-gcc -O2 -s -o HOLV32IP.EXE minimal_worker.c -luser32
 *   -win64 ZIP:  x86_64-w64-mingw32-gcc -O2 -s -o HOLV32IP.EXE minimal_worker.c -luser32
 *                (a Wine with only wine64 runs no 32-bit worker)
 *   MSVC:   cl /O2 minimal_worker.c user32.lib /link /out:HOLV32IP.EXE
 * The host starts it as: HOLV32IP.EXE <INI file> [-c]
 */
#define _CRT_SECURE_NO_WARNINGS /* fopen as the C standard has it */
#include "holvsvc_shutdown_event.h"

#include <stdio.h>

static FILE* Log;

/* One line, stamped to the millisecond and flushed at once: a worker that is
 * ended by force still leaves everything it had seen. */
static void Note(const char* text, const char* value)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    fprintf(Log, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s%s\n", t.wYear, t.wMonth, t.wDay, t.wHour,
            t.wMinute, t.wSecond, t.wMilliseconds, text, value);
    fflush(Log);
}

int main(int argc, char** argv)
{
    char service[64], logName[80], name[HOLV_EVENT_NAME_SIZE];
    DWORD length = GetEnvironmentVariableA("HOLVService", service, sizeof service);
    HANDLE stop;
    DWORD result;

    /* A log named after the service keeps two services in one folder apart. */
    if (length == 0 || length >= sizeof service)
        lstrcpyA(service, "worker");
    wsprintfA(logName, "%s.log", service);
    Log = fopen(logName, "a");
    if (!Log)
        return 2; /* a failure: the service stops with 1066 and this code */
    Note("started with INI file ", argc > 1 ? argv[1] : "(none)");
    /* Read the worker's own options from that INI file here; -e is the host's. */

    /* Before any change of directory: the name comes from the directory's text. */
    HolvShutdownEventName(name);
    stop = HolvOpenShutdownEvent();
    Note(stop ? "waiting for " : "cannot open or create ", name);
    if (!stop)
        return 1;
    while ((result = WaitForSingleObject(stop, 1000)) == WAIT_TIMEOUT) {
        /* One step of the work, short enough to look again within a second. */
    }
    if (result != WAIT_OBJECT_0) {
        Note("the wait failed", "");
        return 1;
    }
    /* Always 0 after the event: a service that shares this folder sees the
     * same event without having been asked to stop, and takes any other
     * exit code as its worker's failure. */
    Note("shutdown event signalled, ending with exit code ", "0");
    CloseHandle(stop);
    fclose(Log);
    return 0;
}
