// The process entry: the executable's directory becomes the working directory,
// then the dispatcher serves the six service names.
#include "service.h"

#include "../support/log.h"

static const SERVICE_TABLE_ENTRYA DispatchTable[] = {
    {ServiceNames[0], ServiceMain},
    {ServiceNames[1], ServiceMain},
    {ServiceNames[2], ServiceMain},
    {ServiceNames[3], ServiceMain},
    {ServiceNames[4], ServiceMain},
    {ServiceNames[5], ServiceMain},
    {NULL, NULL},
};

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
