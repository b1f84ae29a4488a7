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

DWORD HostFolderError;

// The folder of the host's own file, through the wide calls: argument 0
// comes in the ANSI code page, where a folder name it cannot write arrives
// with '?' in place of its letters. 0, or the error it could not be entered
// with. Evidence: MS docs GetModuleFileNameW (a size that fills the buffer
// means the path was cut) and SetCurrentDirectoryW.
static DWORD EnterModuleFolder()
{
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return n ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
    while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/')
        n--;
    if (n == 0)
        return ERROR_PATH_NOT_FOUND;
    // A drive's root keeps its backslash: "C:" alone is the drive's current folder.
    path[n > 3 ? n - 1 : n] = 0;
    return SetCurrentDirectoryW(path) ? 0 : GetLastError();
}

int HostMain(int argc, char** argv)
{
    char directory[MAX_PATH];
    ExecutableDirectory(argc > 0 ? argv[0] : NULL, directory, sizeof directory);
    // INI files, the log, the worker and the event name all hang on this.
    // Where argument 0's folder cannot be entered, the host's own file says
    // where it is; failing that, the start ends with the error (ServiceMain),
    // rather than working in whatever folder the process began in.
    if (directory[0] && !SetCurrentDirectoryA(directory))
        HostFolderError = EnterModuleFolder();

    if (!StartServiceCtrlDispatcherA(DispatchTable)) {
        LogMessage("Failed to start Service Control Dispatcher, reason=%d", (int)GetLastError());
        return 1;
    }
    return 0;
}
