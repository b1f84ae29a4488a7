// The service as the service manager holds it: installed or not, its binary
// path and type, the services that share its shutdown event, and whether
// anything restarts it after its worker fails.
#include "check.h"

#include "service/event_name.h"
#include "service/service.h"

#include <stdio.h>
#include <string.h>

enum { ConfigBufferSize = 8192 };

CheckFacts Facts;

static QUERY_SERVICE_CONFIGA* Config;
static DWORD ConfigBuffer[ConfigBufferSize / sizeof(DWORD)];

// Opens `name` for its configuration; null when it is not installed (or the
// service manager cannot be reached), with the error kept.
static SC_HANDLE OpenInstalled(const char* name, SC_HANDLE* manager)
{
    *manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!*manager)
        return NULL;
    SC_HANDLE service = OpenServiceA(*manager, name, SERVICE_QUERY_CONFIG);
    if (!service) {
        DWORD error = GetLastError();
        CloseServiceHandle(*manager);
        SetLastError(error);
    }
    return service;
}

static void CloseInstalled(SC_HANDLE service, SC_HANDLE manager)
{
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// The binary path and type of `name` into Config; false when not installed.
static bool QueryInstalled(const char* name)
{
    SC_HANDLE manager;
    SC_HANDLE service = OpenInstalled(name, &manager);
    if (!service)
        return false;
    DWORD needed = 0;
    Config = (QUERY_SERVICE_CONFIGA*)ConfigBuffer;
    BOOL ok = QueryServiceConfigA(service, Config, sizeof ConfigBuffer, &needed);
    CloseInstalled(service, manager);
    return ok != FALSE;
}

// The folder a host started from this binary path moves to: the folder of
// its argument 0, which the C runtime takes from the command line the
// service manager passes, the binary path itself. Unquoted, that ends at the
// first blank, even where Windows found the program further on.
static void HostDirectoryOf(const char* binaryPath, char* out, size_t size)
{
    char first[BinaryPathSize];
    ArgumentZero(binaryPath, first, sizeof first);
    ExecutableDirectory(first, out, size);
}

void ReadInstallation(const char* name)
{
    Facts.installed = QueryInstalled(name);
    if (!Facts.installed)
        return;
    Facts.installedType = Config->dwServiceType;
    snprintf(Facts.account, sizeof Facts.account, "%s",
             Config->lpServiceStartName && Config->lpServiceStartName[0] ? Config->lpServiceStartName : "LocalSystem");
    snprintf(Facts.binaryPath, sizeof Facts.binaryPath, "%s", Config->lpBinaryPathName ? Config->lpBinaryPathName : "");
    HostDirectoryOf(Facts.binaryPath, Facts.hostDirectory, sizeof Facts.hostDirectory);
    char image[BinaryPathSize];
    ImageOf(Facts.binaryPath, image, sizeof image);
    ExecutableDirectory(image, Facts.imageDirectory, sizeof Facts.imageDirectory);
    // The host takes its type from the service's status, not from its
    // configuration; the two agree on Windows, but not under Wine after a
    // change, until its session starts again.
    SERVICE_STATUS status = {};
    Facts.reportedType = QueryServiceType(name, &status) ? status.dwServiceType : Facts.installedType;
    Facts.interactive = (Facts.reportedType & SERVICE_INTERACTIVE_PROCESS) != 0;
    // Unquoted, Windows tries the text up to each blank in turn, then the
    // whole: the start fails only when none of them is a file, and then with
    // the first one's error.
    // Evidence: MS docs CreateProcess (c:\program files\sub dir\program
    // name is tried as c:\program.exe, c:\program files\sub.exe, ...);
    // the first error counts as the issue read ReactOS
    // CreateProcessInternalW (source, not re-read here).
    // A '?' no file name may hold: the service manager starts the host from
    // the Unicode path, whose text this code page cannot give; the host then
    // works in its own file's folder (argument 0's cannot be entered).
    // Evidence: MS docs "Code Pages" (characters a code page lacks become its
    // default character, '?'); measured under Wine (sc create into
    // C:\Dienste\Nablyudenie in Cyrillic, code page 1252).
    Facts.unnamedFolder = strchr(Facts.binaryPath, '?') != NULL;
    if (Facts.unnamedFolder) {
        Facts.hostDirectory[0] = 0;
        return;
    }
    Facts.hostError = HostImageError(image, Facts.hostImage, sizeof Facts.hostImage, &Facts.hostWhy);
    const char* path = Facts.binaryPath;
    bool first = true;
    for (size_t i = 0; Facts.hostError && path[0] != '"' && path[i]; i++) {
        char shorter[BinaryPathSize], looked[BinaryPathSize];
        const char* why;
        snprintf(shorter, sizeof shorter, "%.*s", (int)i, path);
        if (path[i] != ' ' && path[i] != '\t')
            continue;
        DWORD error = HostImageError(shorter, looked, sizeof looked, &why);
        if (first && error) {
            Facts.hostError = error, Facts.hostWhy = why;
            snprintf(Facts.hostImage, sizeof Facts.hostImage, "%s", looked);
        }
        first = false;
        if (!error)
            Facts.hostError = 0;
    }
}

// Its Unicode text, which enters it whatever the code page can write.
static WCHAR Here[MAX_PATH];

const char* OpenableFolder()
{
    return strchr(Facts.directory, '?') ? "." : Facts.directory;
}

void ReturnToFolder()
{
    if (!Here[0] || !SetCurrentDirectoryW(Here))
        SetCurrentDirectoryA(Facts.directory);
}

void RememberFolder()
{
    if (GetCurrentDirectoryW(MAX_PATH, Here) >= MAX_PATH)
        Here[0] = 0;
}

bool SpelledAs(const char* folder, char* out, size_t size)
{
    bool ok = SetCurrentDirectoryA(folder) && GetCurrentDirectoryA((DWORD)size, out) < size;
    ReturnToFolder();
    return ok;
}

void CheckInstallation()
{
    if (!Facts.installed) {
        Finding(FindingNote, "%s is not installed: assuming a service that is not interactive (the worker gets -c)",
                Facts.name);
        return;
    }
    Finding(FindingNote, "%s is installed: binary path %s, type 0x%lX (%s)", Facts.name, Facts.binaryPath,
            (unsigned long)Facts.installedType,
            Facts.interactive ? "interactive: the worker gets no -c" : "not interactive: the worker gets -c");
    if ((Facts.reportedType ^ Facts.installedType) & SERVICE_INTERACTIVE_PROCESS)
        Finding(FindingWarning, "the service manager reports type 0x%lX for %s, though its configuration says 0x%lX: "
                "the host takes the reported type, so the worker %s until the service manager takes the new one "
                "(under Wine: until its session starts again)", (unsigned long)Facts.reportedType, Facts.name,
                (unsigned long)Facts.installedType, Facts.interactive ? "gets no -c" : "gets -c");
    if (Facts.hostError == ERROR_SERVICE_NOT_IN_EXE) {
        Finding(FindingError, "%s is a shared-process service (type 0x%lX) under a name the host's dispatch table "
                "lacks: the host runs no service of that name, and the start fails with error %lu", Facts.name,
                (unsigned long)Facts.installedType, (unsigned long)Facts.hostError);
        return;
    }
    if (Facts.hostError) {
        // The host never runs: no folder of its own to speak of.
        Finding(FindingError, "the binary path names no file the service manager can start: it looks for %s, but "
                "%s; the start of %s fails with error %lu before the host runs", Facts.hostImage[0] ?
                Facts.hostImage : Facts.binaryPath, Facts.hostWhy, Facts.name, (unsigned long)Facts.hostError);
        return;
    }
    const char* path = Facts.binaryPath;
    char image[BinaryPathSize];
    ImageOf(path, image, sizeof image);
    if (path[0] != '"' && strpbrk(image, " \t")) {
        char first[BinaryPathSize];
        ArgumentZero(path, first, sizeof first);
        Finding(FindingError, "the binary path holds a space and no quotes: Windows starts %s.exe in its place if "
                "there is one, and the host's argument 0 ends at the space (%s), so it works in %s: it reads its "
                "INI file and writes HOLV32.LOG there, and its shutdown event is that folder's; quote the path: sc "
                "config %s binPath= \"\\\"%s\\\"%s\"", first, first, Facts.hostDirectory, Facts.name, image,
                path + strlen(image));
    }
    char host[MAX_PATH];
    if (Facts.unnamedFolder) {
        Finding(FindingWarning, "the binary path holds '?', this code page's stand-in for a letter it cannot "
                "write: the service manager starts the host from its Unicode path, and the host, whose argument 0 "
                "holds the '?', works in its own file's folder, which HOLVCHK cannot name here: the folder named "
                "is taken for it");
        Facts.runsHere = true;
    } else if (!Facts.hostDirectory[0] || !SpelledAs(Facts.hostDirectory, host, sizeof host))
        Finding(FindingNote, "the installed host's folder %s cannot be entered: the host works in its own file's "
                "folder %s", Facts.hostDirectory, Facts.imageDirectory);
    else if (lstrcmpiA(host, Facts.directory) != 0)
        Finding(FindingNote, "the installed service runs from %s, not from the folder checked here", host);
    else
        Facts.runsHere = true;
}

// Another installed service whose binary path names a HOLVSVC.EXE: its
// host's event is named in its own folder, and the name is a hash of that
// folder's text, so two folders can give one name.
static void CompareEvent(const char* other, const char* name, const char* event)
{
    if (lstrcmpiA(other, name) == 0 || !QueryInstalled(other))
        return;
    char image[BinaryPathSize], folder[MAX_PATH], spelled[MAX_PATH];
    ImageOf(Config->lpBinaryPathName ? Config->lpBinaryPathName : "", image, sizeof image);
    const char* file = image;
    for (const char* p = image; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            file = p + 1;
    if (lstrcmpiA(file, "HOLVSVC.EXE") != 0)
        return;
    HostDirectoryOf(Config->lpBinaryPathName, folder, sizeof folder);
    if (!folder[0] || !SetCurrentDirectoryA(folder))
        return;
    char theirs[EventNameSize];
    // The event's name is the host's own, computed in that folder.
    ShutdownEventName(theirs);
    GetCurrentDirectoryA(sizeof spelled, spelled);
    ReturnToFolder();
    bool sameFolder = lstrcmpiA(spelled, Facts.directory) == 0;
    if (strcmp(theirs, event) == 0 && sameFolder)
        Finding(FindingWarning, "%s is installed from the same folder and shares %s: stopping either service "
                "ends both workers", other, event);
    else if (strcmp(theirs, event) == 0)
        Finding(FindingWarning, "%s runs from %s, whose event name is the same (%s): a stop of either ends both "
                "workers", other, spelled, event);
    else if (sameFolder)
        Finding(FindingNote, "%s is installed from the same folder, spelled %s: it shares the log and "
                "HOLV32.INI but not the shutdown event", other, spelled);
}

// Every installed service, not only the six names: on Windows the host runs
// under any own-process name. Evidence: MS docs EnumServicesStatus.
void CheckShutdownEvent(const char* name)
{
    char event[EventNameSize];
    ShutdownEventName(event);
    // A folder that has no name here is named by the host with the '?' text
    // of its own path, whatever name took HOLVCHK into it (a short name).
    // Its folder's text as the current folder's: no separator at the end
    // but a root's.
    char text[DirectoryBufferSize] = {0};
    int length = snprintf(text, sizeof text, "%s", Facts.imageDirectory);
    if (length > 3 && length < (int)sizeof text && (text[length - 1] == '\\' || text[length - 1] == '/'))
        text[--length] = 0;
    if (Facts.unnamedFolder && length >= 0 && lstrcmpiA(Facts.directory, text) != 0) {
        snprintf(event, sizeof event, "HOLVSVCE_SHUTDOWN:%u", (unsigned)DirectoryHash(text, (DWORD)length));
        Finding(FindingNote, "the host names its shutdown event after %s, its own text of this folder, not after "
                "%s", text, Facts.directory);
    }
    Finding(FindingNote, "shutdown event: %s", event);
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager)
        return;
    // Apart from the configuration buffer each comparison fills.
    static DWORD buffer[16384 / sizeof(DWORD)];
    DWORD resume = 0;
    for (bool more = true; more;) {
        DWORD needed = 0, count = 0;
        ENUM_SERVICE_STATUSA* services = (ENUM_SERVICE_STATUSA*)buffer;
        BOOL ok = EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_STATE_ALL, services, sizeof buffer, &needed,
                                      &count, &resume);
        more = !ok && GetLastError() == ERROR_MORE_DATA && count > 0;
        if (!ok && !more)
            break;
        for (DWORD i = 0; i < count; i++)
            CompareEvent(services[i].lpServiceName, name, event);
    }
    CloseServiceHandle(manager);
}

void CheckRecovery()
{
    if (!Facts.installed)
        return;
    SC_HANDLE manager;
    SC_HANDLE service = OpenInstalled(Facts.name, &manager);
    if (!service)
        return;
    static DWORD buffer[ConfigBufferSize / sizeof(DWORD)];
    DWORD needed = 0;
    bool restarts = false, flag = false;
    char actions[CheckLineSize] = {0};
    if (QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, (LPBYTE)buffer, sizeof buffer, &needed)) {
        const SERVICE_FAILURE_ACTIONSA* failure = (const SERVICE_FAILURE_ACTIONSA*)buffer;
        static const char* const Kinds[] = {"none", "restart", "reboot", "run a command"};
        for (DWORD i = 0; i < failure->cActions; i++) {
            const SC_ACTION& action = failure->lpsaActions[i];
            size_t used = strlen(actions);
            snprintf(actions + used, sizeof actions - used, "%s%s/%lu", used ? ", " : "",
                     (DWORD)action.Type < 4 ? Kinds[action.Type] : "?", (unsigned long)action.Delay);
            restarts = restarts || action.Type == SC_ACTION_RESTART;
        }
        Finding(FindingNote, "recovery actions: %s; reset after %lu s", actions[0] ? actions : "none",
                (unsigned long)failure->dwResetPeriod);
    } else {
        Finding(FindingNote, "the recovery actions cannot be read (error %lu)", (unsigned long)GetLastError());
    }
    SERVICE_FAILURE_ACTIONS_FLAG failureFlag = {FALSE};
    bool flagRead = QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, (LPBYTE)&failureFlag,
                                         sizeof failureFlag, &needed) != FALSE;
    DWORD flagError = GetLastError();
    flag = flagRead && failureFlag.fFailureActionsOnNonCrashFailures;
    CloseInstalled(service, manager);
    if (!flagRead)
        Finding(FindingNote, "the failure-actions flag cannot be read (error %lu)", (unsigned long)flagError);
    if (!restarts || !flag)
        Finding(FindingNote, "nothing restarts the service when its worker fails (it stops with error 1066): "
                "sc failure %s reset= 86400 actions= restart/60000 and sc failureflag %s 1 would",
                Facts.name, Facts.name);
}
