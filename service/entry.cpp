// The process entry: the executable's directory becomes the working directory,
// then the dispatcher serves the six service names.
#include "service.h"

#include "../support/log.h"

#include <stdio.h>
#include <string.h>

static char QuenraClient[] = "QuenraClient";
static char QuenraService[] = "QuenraService";
static char KorviService[] = "KORVIService";
static char KorviClient[] = "KORVIClient";
static char PlunwickService[] = "PlunwickService";
static char PlunwickClient[] = "PlunwickClient";

static const SERVICE_TABLE_ENTRYA DispatchTable[] = {
    {QuenraClient, ServiceMain},
    {QuenraService, ServiceMain},
    {KorviService, ServiceMain},
    {KorviClient, ServiceMain},
    {PlunwickService, ServiceMain},
    {PlunwickClient, ServiceMain},
    {NULL, NULL},
};

void ExecutableDirectory(const char* argv0, char* out, size_t size)
{
    out[0] = 0;
    if (!argv0)
        return;
    size_t drive = (argv0[0] && argv0[1] == ':') ? 2 : 0;
    size_t end = drive;
    for (size_t i = drive; argv0[i]; i++)
        if (argv0[i] == '\\' || argv0[i] == '/')
            end = i + 1;
    // A directory that does not fit is not cut short into another one.
    if (end >= size)
        return;
    snprintf(out, size, "%.*s", (int)end, argv0);
}

int HostMain(int argc, char** argv)
{
    char directory[MAX_PATH];
    ExecutableDirectory(argc > 0 ? argv[0] : NULL, directory, sizeof directory);
    // INI files, the log, the worker and the event name all hang on this.
    if (directory[0])
        SetCurrentDirectoryA(directory);

    if (!StartServiceCtrlDispatcherA(DispatchTable)) {
        LogMessage("Failed to start Service Control Dispatcher, reason=%d", (int)GetLastError());
        return 1;
    }
    return 0;
}
