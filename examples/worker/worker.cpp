// HOLV32IP.EXE: an example worker for HOLVSVC.EXE. It waits for the host's
// shutdown event and ends when it is signalled, writing what it saw to a
// record file of its own.
//
// Command line, as the host builds it: HOLV32IP.EXE <ini file> [-c]
// Options, read from the INI file (-e belongs to the host and is skipped):
//   -t<seconds>  end by itself after that many seconds; -t0 ends at once
//   -x<code>     exit code
//   -i           ignore the shutdown event (still noted when it comes)
//   -k<seconds>  crash with an access violation after that many seconds
//                (at once without a number), unless the event comes first
//   -r<file>     record file, default HOLV32IP.TXT in the working directory
#include "service/event_name.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    IniTextSize = 1024,
    RecordNameSize = 260,
    LineSize = 512,
    OpenAttempts = 10,
    OpenPauseMs = 100,
};

struct WorkerOptions {
    bool hasLimit; // without -t the worker waits for the event for ever
    DWORD seconds;
    int exitCode;
    bool ignoreEvent;
    bool crash;
    DWORD crashSeconds;
    char recordName[RecordNameSize];
};

static char RecordName[RecordNameSize] = "HOLV32IP.TXT";

// One line per call, appended and closed at once, so a worker that is killed
// still leaves everything it had seen so far.
static void Record(const char* format, ...)
{
    char line[LineSize];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0)
        line[0] = 0;
    FILE* file = fopen(RecordName, "ab");
    if (!file)
        return;
    fputs(line, file);
    fputs("\r\n", file);
    fclose(file);
}

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Applies one minus-sign token; unknown ones and -e (the host's) are skipped.
static void ApplyOption(const char* token, WorkerOptions* options)
{
    if (token[0] != '-' || token[1] == 0)
        return;
    const char* value = token + 2;
    switch (token[1]) {
    case 't':
        options->hasLimit = true;
        options->seconds = (DWORD)strtoul(value, NULL, 10);
        break;
    case 'k':
        options->crash = true;
        options->crashSeconds = (DWORD)strtoul(value, NULL, 10);
        break;
    case 'x':
        options->exitCode = atoi(value);
        break;
    case 'i':
        options->ignoreEvent = true;
        break;
    case 'r':
        if (*value)
            snprintf(options->recordName, sizeof options->recordName, "%s", value);
        break;
    default:
        break;
    }
}

// The INI file is free text; only words that begin with a minus sign count.
static bool ReadOptions(const char* iniPath, WorkerOptions* options)
{
    FILE* file = fopen(iniPath, "rb");
    if (!file)
        return false;
    char text[IniTextSize];
    size_t length = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    text[length] = 0;

    size_t i = 0;
    while (i < length) {
        while (i < length && IsBlank(text[i]))
            i++;
        size_t start = i;
        while (i < length && !IsBlank(text[i]))
            i++;
        char token[RecordNameSize + 2];
        snprintf(token, sizeof token, "%.*s", (int)(i - start), text + start);
        ApplyOption(token, options);
    }
    return true;
}

// An unhandled access violation, as a faulty worker would die of. The store
// goes to a page reserved with no access: address 0 can be writable under
// Wine, a no-access page faults everywhere.
static void Crash()
{
    Record("crashing: access violation");
    int* volatile target = (int*)VirtualAlloc(NULL, 4096, MEM_RESERVE, PAGE_NOACCESS);
    *target = 1;
    Record("crash failed: the store went through");
}

// The host may not have made the event yet if this worker was started by
// other means; try a while, then make it ourselves so a later host finds it.
static HANDLE FindShutdownEvent(const char* name, const char** how)
{
    for (int attempt = 0; attempt < OpenAttempts; attempt++) {
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
        if (event) {
            *how = "opened";
            return event;
        }
        Sleep(OpenPauseMs);
    }
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, name);
    *how = event ? "created" : "unavailable";
    return event;
}

int main(int argc, char** argv)
{
    WorkerOptions options = {};
    bool iniRead = argc > 1 && ReadOptions(argv[1], &options);
    if (options.recordName[0])
        snprintf(RecordName, sizeof RecordName, "%s", options.recordName);

    char directory[DirectoryBufferSize] = {0};
    GetCurrentDirectoryA(sizeof directory, directory);
    char service[64];
    if (!GetEnvironmentVariableA("HOLVService", service, sizeof service))
        snprintf(service, sizeof service, "%s", "(not set)");
    char name[EventNameSize];
    ShutdownEventName(name);

    Record("started");
    Record("command line: %s", GetCommandLineA());
    Record("HOLVService: %s", service);
    Record("directory: %s", directory);
    Record("ini: %s (%s)", argc > 1 ? argv[1] : "(none)", iniRead ? "read" : "not read");
    Record("options: t=%lu x=%d i=%d", (unsigned long)options.seconds, options.exitCode,
           options.ignoreEvent ? 1 : 0);

    // Ends before even looking for the event: the host may not yet hold a
    // handle to this process when it is already gone.
    if (options.hasLimit && options.seconds == 0) {
        Record("ended: time limit, exit code %d", options.exitCode);
        return options.exitCode;
    }

    const char* how = "unavailable";
    HANDLE event = FindShutdownEvent(name, &how);
    Record("event: %s (%s)", name, how);

    DWORD limit = options.hasLimit ? options.seconds * 1000 : INFINITE;
    if (options.crash && (limit == INFINITE || options.crashSeconds < options.seconds))
        limit = options.crashSeconds * 1000;
    DWORD begin = GetTickCount();
    const char* ending = "time limit";
    if (event) {
        DWORD result = WaitForSingleObject(event, limit);
        if (result == WAIT_OBJECT_0) {
            ending = "shutdown event";
            if (options.ignoreEvent) {
                Record("shutdown event signalled, ignored");
                ending = "time limit";
                // Sit out the rest of the time limit, or for ever without one.
                DWORD spent = GetTickCount() - begin;
                Sleep(limit == INFINITE ? INFINITE : (spent < limit ? limit - spent : 0));
            }
        } else if (result != WAIT_TIMEOUT) {
            ending = "wait failed";
        } else if (options.crash) {
            Crash();
        }
        CloseHandle(event);
    } else {
        Sleep(limit);
        if (options.crash)
            Crash();
    }

    Record("ended: %s, exit code %d", ending, options.exitCode);
    return options.exitCode;
}
