// HOLVMSI.DLL, the package's custom actions.
//
// HolvInspect (immediate, before the launch conditions) finds out what
// Windows Installer conditions cannot: whether the service exists and from
// which folder, whether it runs, whether HOLV32IP.EXE in the install folder is
// the one the package put there, whether the folder's path can be written in
// the ANSI code page the host works in and how long it is there, and whether
// the command line asks for what the installed service cannot take. It only
// sets properties, and logs each refusal it finds; the package's conditions
// decide.
//
//   HOLV_DIR_NOT_ANSI     1 when INSTALLDIR has characters the ANSI code page lacks
//   HOLV_DIR_TOO_LONG     the folder's length, when it is over the host's limit
//   HOLV_DIR_UNTRUSTED    why INSTALLDIR cannot be trusted (folder_lock.cpp's FolderRefusal)
//   HOLV_DIR_MOVED        the installed folder, when a repair or change names another
//   HOLV_RENAMED          the installed service's name, when SERVICENAME names another
//   HOLV_BAD_RESTARTDELAY 1 when RESTARTDELAY is not a number of milliseconds up to a day
//   HOLV_FOREIGN_SERVICE  the program of a service of that name from elsewhere
//   HOLV_INTERACTIVE_ACCOUNT  the account of a service that INTERACTIVE=1 cannot be given to
//   HOLV_SERVICE_BEFORE   what HolvConfigureService may change, for its rollback
//   HOLV_LOCK_BEFORE      what HolvLockFolder will change, for its rollback
//   HOLV_WAS_RUNNING      1 when the package's own service is not stopped
//   HOLV_WORKER_FREE      1 when HOLV32IP.EXE is absent or the package's own
//   HOLV_WORKER_DIR       the folder, when HOLV32IP.EXE is the package's own
//
// HolvAwaitStop (deferred, after StopServices) waits until the service named
// in CustomActionData has stopped and its process has ended, so its files can
// be removed. Windows Installer's own wait ends after 30 seconds, and the host
// waits for its worker without a limit.
//
// HolvConfigureService (deferred, where InstallServices would run) creates
// the service or changes it in place, and HolvConfigureServiceRollback puts
// back what it changed; HolvRemoveService (deferred, last) deletes it at an
// uninstall and keeps it when the removal is part of an upgrade. The
// service logic itself is service_settings.cpp's.
//
// HolvRestart (deferred, at the end of an installation) starts the service
// named in CustomActionData again and waits until it runs or has stopped. It
// always succeeds: the outcome goes to the installation's log, and a service
// that does not come up leaves a complete installation to be looked into.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <wincrypt.h>

#include <wchar.h>

#include "ansi_text.h"
#include "folder_lock.h"
#include "msi_log.h"
#include "service_settings.h"

enum {
    // The host works in the ANSI code page and needs its folder plus
    // "\HOLV32IP.EXE" within MAX_PATH.
    LongestDirectory = 246,
    PathSize = 1024,
    NameSize = 260,
    HashTextSize = 65,
    ReadSize = 16384,
    ServiceConfigSize = 8192, // QueryServiceConfig's documented maximum
    // The host's own wait hint; a worker that takes longer is left to the
    // files-in-use handling.
    StopWaitMs = 120000,
    // The host reports running once its worker has started, within seconds;
    // Wine's first start of a service can take ten.
    StartWaitMs = 60000,
    MessageSize = 1280,
    PollMs = 100,
};

// A property's value; false (and empty) when it does not fit.
static bool GetProperty(MSIHANDLE install, const wchar_t* name, wchar_t* out, DWORD size)
{
    DWORD length = size;
    if (MsiGetPropertyW(install, name, out, &length) == ERROR_SUCCESS)
        return true;
    out[0] = 0;
    return false;
}

// The folder without trailing backslashes, as the host's directory reads.
static void TrimFolder(wchar_t* folder)
{
    size_t n = wcslen(folder);
    while (n > 0 && folder[n - 1] == L'\\')
        folder[--n] = 0;
}

static bool SameText(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Whether a service's program is HOLVSVC.EXE in FOLDER: environment strings
// expanded, the quotes around a path with spaces removed.
static bool IsHostIn(const wchar_t* binaryPath, const wchar_t* folder)
{
    if (!folder[0])
        return false;
    wchar_t expanded[PathSize];
    DWORD n = ExpandEnvironmentStringsW(binaryPath, expanded, PathSize);
    if (n == 0 || n > PathSize)
        return false;
    wchar_t program[PathSize];
    const wchar_t* start = expanded;
    size_t length = wcslen(expanded);
    if (expanded[0] == L'"') {
        const wchar_t* close = wcschr(expanded + 1, L'"');
        if (!close)
            return false;
        start = expanded + 1;
        length = (size_t)(close - start);
    }
    while (length > 0 && start[length - 1] == L' ')
        length--;
    if (length >= PathSize)
        return false;
    wmemcpy(program, start, length);
    program[length] = 0;

    wchar_t expected[PathSize];
    if (swprintf(expected, PathSize, L"%ls\\HOLVSVC.EXE", folder) < 0)
        return false;
    return SameText(program, expected);
}

void LogInfo(MSIHANDLE install, const wchar_t* text)
{
    MSIHANDLE record = MsiCreateRecord(1);
    if (!record)
        return;
    // Through a field, so brackets in the text are not formatted.
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// A refusal HolvInspect found: its property, and a line in the log, as Wine's
// msiexec logs no launch condition's message.
static void Refuse(MSIHANDLE install, const wchar_t* property, const wchar_t* value, const wchar_t* reason)
{
    wchar_t text[MessageSize];
    MsiSetPropertyW(install, property, value);
    swprintf(text, MessageSize, L"HolvInspect: refused, nothing changed: %ls", reason);
    LogInfo(install, text);
}

// What HolvInspect is told.
struct Request {
    wchar_t name[NameSize], savedName[NameSize];
    wchar_t folder[PathSize], savedFolder[PathSize];
    bool maintenance, removing, interactive;
};

// Looks at the installed service: whose it is, whether it runs, whether it
// can take the request, and what HolvConfigureService may change in it.
static void InspectService(MSIHANDLE install, const Request& r)
{
    char ansiName[NameSize];
    static char before[SettingsTextSize];
    if (!ToAnsi(r.name, ansiName, NameSize))
        return;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return;
    SC_HANDLE service = OpenServiceW(manager, r.name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!service) {
        // HolvConfigureService will create it; its rollback deletes it.
        wchar_t wide[NameSize + 4];
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST &&
            FormatServiceSettings(ansiName, NULL, before, sizeof before) &&
            MultiByteToWideChar(CP_ACP, 0, before, -1, wide, NameSize + 4) > 0)
            MsiSetPropertyW(install, L"HOLV_SERVICE_BEFORE", wide);
        CloseServiceHandle(manager);
        return;
    }
    static union {
        QUERY_SERVICE_CONFIGW config;
        BYTE bytes[ServiceConfigSize];
    } buffer;
    DWORD needed = 0;
    if (!QueryServiceConfigW(service, &buffer.config, sizeof buffer, &needed)) {
        // A service that cannot be looked into is not taken over.
        MsiSetPropertyW(install, L"HOLV_FOREIGN_SERVICE", L"?");
    } else {
        const wchar_t* path = buffer.config.lpBinaryPathName ? buffer.config.lpBinaryPathName : L"";
        // The package's own: HOLVSVC.EXE in the install folder, or the
        // remembered service, in the folder the installed package used or,
        // in a repair or change, wherever it now points.
        bool remembered = r.savedName[0] && SameText(r.name, r.savedName);
        bool own = IsHostIn(path, r.folder) || (remembered && (r.maintenance || IsHostIn(path, r.savedFolder)));
        if (!own) {
            wchar_t reason[MessageSize];
            swprintf(reason, MessageSize, L"the service %ls is installed from another folder: %.300ls.", r.name, path);
            Refuse(install, L"HOLV_FOREIGN_SERVICE", path[0] ? path : L"?", reason);
        } else {
            SERVICE_STATUS status;
            if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
                status.dwCurrentState != SERVICE_STOP_PENDING)
                MsiSetPropertyW(install, L"HOLV_WAS_RUNNING", L"1");
            static ServiceSettings settings;
            static wchar_t wide[SettingsTextSize];
            DWORD error = ReadServiceSettings(service, &settings);
            // Windows refuses to make a service interactive that runs under
            // another account than LocalSystem; better before any change.
            if (!r.removing && r.interactive && settings.startName[0] && !IsLocalSystem(settings.startName)) {
                wchar_t account[NameSize], reason[MessageSize];
                if (MultiByteToWideChar(CP_ACP, 0, settings.startName, -1, account, NameSize) <= 0)
                    wcscpy(account, L"?");
                swprintf(reason, MessageSize,
                         L"INTERACTIVE=1 needs a service that runs as LocalSystem; %ls runs as %ls.", r.name, account);
                Refuse(install, L"HOLV_INTERACTIVE_ACCOUNT", account, reason);
            }
            // Every setting, for the change's rollback and for creating the
            // service again should an older version's removal delete it.
            // Without them neither happens; the log says why.
            if (!error && FormatServiceSettings(ansiName, &settings, before, sizeof before) &&
                MultiByteToWideChar(CP_ACP, 0, before, -1, wide, SettingsTextSize) > 0) {
                MsiSetPropertyW(install, L"HOLV_SERVICE_BEFORE", wide);
            } else {
                wchar_t text[MessageSize];
                swprintf(text, MessageSize, L"HolvInspect: the settings of %ls cannot be read (error %lu).", r.name,
                         (unsigned long)error);
                LogInfo(install, text);
            }
        }
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// SHA-256 of a file as lower-case hex; false if it cannot be read.
static bool FileSha256(const wchar_t* path, wchar_t (&text)[HashTextSize])
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = false;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    if (CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        static BYTE data[ReadSize];
        ok = true;
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file, data, sizeof data, &got, NULL)) {
                ok = false;
                break;
            }
            if (got == 0)
                break;
            if (!CryptHashData(hash, data, got, 0)) {
                ok = false;
                break;
            }
        }
        BYTE value[32];
        DWORD size = sizeof value;
        if (ok && CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0) && size == sizeof value) {
            for (DWORD i = 0; i < size; i++)
                swprintf(text + 2 * i, 3, L"%02x", value[i]);
        } else {
            ok = false;
        }
    }
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    CloseHandle(file);
    return ok;
}

// HOLV32IP.EXE in the folder: absent, the package's own (its hash as the
// package remembered it), or somebody else's, which is left alone.
static void InspectWorker(MSIHANDLE install, const wchar_t* folder, const wchar_t* savedHash)
{
    wchar_t path[PathSize];
    if (!folder[0] || swprintf(path, PathSize, L"%ls\\HOLV32IP.EXE", folder) < 0)
        return;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
            MsiSetPropertyW(install, L"HOLV_WORKER_FREE", L"1");
        return;
    }
    wchar_t hash[HashTextSize];
    if (savedHash[0] && FileSha256(path, hash) && SameText(hash, savedHash)) {
        wchar_t withSlash[PathSize];
        if (swprintf(withSlash, PathSize, L"%ls\\", folder) < 0)
            return;
        MsiSetPropertyW(install, L"HOLV_WORKER_FREE", L"1");
        MsiSetPropertyW(install, L"HOLV_WORKER_DIR", withSlash);
    }
}

extern "C" UINT __stdcall HolvInspect(MSIHANDLE install)
{
    static Request r;
    wchar_t savedHash[HashTextSize], installed[64], remove[16], interactive[4], delay[16], reason[MessageSize];
    bool folderFits = GetProperty(install, L"INSTALLDIR", r.folder, PathSize);
    GetProperty(install, L"SERVICENAME", r.name, NameSize);
    GetProperty(install, L"HOLV_SAVED_SERVICENAME", r.savedName, NameSize);
    GetProperty(install, L"HOLV_SAVED_INSTALLDIR", r.savedFolder, PathSize);
    GetProperty(install, L"HOLV_SAVED_WORKER_SHA256", savedHash, HashTextSize);
    GetProperty(install, L"Installed", installed, 64);
    GetProperty(install, L"REMOVE", remove, 16);
    GetProperty(install, L"INTERACTIVE", interactive, 4);
    bool delayFits = GetProperty(install, L"RESTARTDELAY", delay, 16);
    TrimFolder(r.folder);
    TrimFolder(r.savedFolder);
    // What it finds is its own: the same names given on the command line
    // (they are public) must not reach the conditions or the deferred
    // actions, which act on them as LocalSystem.
    static const wchar_t* const findings[] = {
        L"HOLV_DIR_NOT_ANSI",        L"HOLV_DIR_TOO_LONG",   L"HOLV_DIR_MOVED",   L"HOLV_RENAMED",
        L"HOLV_BAD_RESTARTDELAY",    L"HOLV_FOREIGN_SERVICE", L"HOLV_SERVICE_BEFORE", L"HOLV_WAS_RUNNING",
        L"HOLV_INTERACTIVE_ACCOUNT", L"HOLV_WORKER_FREE",    L"HOLV_WORKER_DIR",     L"HOLV_DIR_UNTRUSTED",
        L"HOLV_LOCK_BEFORE",
    };
    for (const wchar_t* finding : findings)
        MsiSetPropertyW(install, finding, L"");
    r.maintenance = installed[0] != 0;
    r.removing = SameText(remove, L"ALL");
    r.interactive = wcscmp(interactive, L"1") == 0;

    // An uninstall acts on the remembered service and folder, whatever the
    // command line says; it is never refused.
    if (!r.removing) {
        // The host's own path holds "?" for a character the ANSI code page
        // lacks, names no folder, and the host would work in System32.
        char ansiFolder[PathSize * 2];
        if (folderFits && !ToAnsi(r.folder, ansiFolder, sizeof ansiFolder)) {
            swprintf(reason, MessageSize, L"INSTALLDIR %ls cannot be written in the ANSI code page.", r.folder);
            Refuse(install, L"HOLV_DIR_NOT_ANSI", L"1", reason);
            return ERROR_SUCCESS;
        }
        int length = folderFits ? (int)strlen(ansiFolder) : PathSize;
        if (length > LongestDirectory) {
            wchar_t text[16];
            swprintf(text, 16, L"%d", length);
            swprintf(reason, MessageSize, L"INSTALLDIR is %d characters long, over %d.", length, LongestDirectory);
            Refuse(install, L"HOLV_DIR_TOO_LONG", text, reason);
            return ERROR_SUCCESS;
        }
        // A folder the lock cannot make safe: the package acts as LocalSystem.
        wchar_t why[MessageSize - 128];
        if (folderFits && FolderRefusal(r.folder, why, MessageSize - 128)) {
            Refuse(install, L"HOLV_DIR_UNTRUSTED", why, why);
            return ERROR_SUCCESS;
        }
        static wchar_t before[LockBeforeSize + 2 * PathSize];
        if (folderFits) {
            LockBefore(r.folder, before, LockBeforeSize + 2 * PathSize);
            MsiSetPropertyW(install, L"HOLV_LOCK_BEFORE", before);
        }
        // One installation of the package serves one service, in one folder.
        if (r.savedName[0] && wcscmp(r.name, r.savedName) != 0) {
            swprintf(reason, MessageSize,
                     L"the package is installed for %ls; uninstall it first to install it for %ls.", r.savedName,
                     r.name);
            Refuse(install, L"HOLV_RENAMED", r.savedName, reason);
        }
        if (r.maintenance && r.savedFolder[0] && !SameText(r.folder, r.savedFolder)) {
            swprintf(reason, MessageSize,
                     L"the package is installed in %ls; a repair or change cannot move it to %ls.", r.savedFolder,
                     r.folder);
            Refuse(install, L"HOLV_DIR_MOVED", r.savedFolder, reason);
        }
        char ansiDelay[16];
        DWORD ms;
        if (delay[0] && !(delayFits && ToAnsi(delay, ansiDelay, 16) && ParseRestartDelay(ansiDelay, &ms))) {
            swprintf(reason, MessageSize, L"RESTARTDELAY is %ls, not a number of milliseconds from 0 to %d.", delay,
                     LongestRestartDelay);
            Refuse(install, L"HOLV_BAD_RESTARTDELAY", L"1", reason);
        }
    }
    if (r.name[0])
        InspectService(install, r);
    InspectWorker(install, r.folder, savedHash);
    return ERROR_SUCCESS;
}

// The folder lock (folder_lock.cpp), with its log line.
extern "C" UINT __stdcall HolvLockFolder(MSIHANDLE install)
{
    static wchar_t folder[PathSize], text[LockBeforeSize];
    if (!GetProperty(install, L"CustomActionData", folder, PathSize) || !folder[0]) {
        LogInfo(install, L"HolvLockFolder: no folder given.");
        return ERROR_INSTALL_FAILURE;
    }
    bool locked = LockFolder(folder, text, LockBeforeSize);
    LogInfo(install, text);
    return locked ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// The lock's rollback, from HolvInspect's HOLV_LOCK_BEFORE. It always
// succeeds: what it could not put back is in the log.
extern "C" UINT __stdcall HolvLockFolderRollback(MSIHANDLE install)
{
    static wchar_t before[LockBeforeSize + 2 * PathSize], text[2 * MessageSize];
    if (!GetProperty(install, L"CustomActionData", before, LockBeforeSize + 2 * PathSize) || !before[0])
        return ERROR_SUCCESS;
    UndoLock(before, text, 2 * MessageSize);
    for (wchar_t* line = text; *line;) {
        wchar_t* end = wcschr(line, L'\n');
        if (end)
            *end = 0;
        LogInfo(install, line);
        line = end ? end + 1 : line + wcslen(line);
    }
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall HolvAwaitStop(MSIHANDLE install)
{
    wchar_t name[NameSize];
    GetProperty(install, L"CustomActionData", name, NameSize);
    if (!name[0])
        return ERROR_SUCCESS;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return ERROR_SUCCESS;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (service) {
        HANDLE process = NULL;
        ULONGLONG start = GetTickCount64();
        for (;;) {
            SERVICE_STATUS_PROCESS status;
            DWORD needed = 0;
            if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE*)&status, sizeof status, &needed))
                break;
            if (!process && status.dwProcessId)
                process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
            if (status.dwCurrentState == SERVICE_STOPPED || GetTickCount64() - start >= StopWaitMs)
                break;
            Sleep(PollMs);
        }
        if (process) {
            ULONGLONG spent = GetTickCount64() - start;
            WaitForSingleObject(process, spent < StopWaitMs ? (DWORD)(StopWaitMs - spent) : 0);
            CloseHandle(process);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall HolvRestart(MSIHANDLE install)
{
    wchar_t name[NameSize], text[MessageSize];
    GetProperty(install, L"CustomActionData", name, NameSize);
    if (!name[0])
        return ERROR_SUCCESS;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name, SERVICE_START | SERVICE_QUERY_STATUS) : NULL;
    if (!service) {
        swprintf(text, MessageSize, L"HolvRestart: %ls cannot be opened to start it again (error %lu).", name,
                 GetLastError());
    } else if (!StartServiceW(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        swprintf(text, MessageSize, L"HolvRestart: %ls did not start again (error %lu).", name, GetLastError());
    } else {
        SERVICE_STATUS status = {};
        ULONGLONG start = GetTickCount64();
        while (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_START_PENDING &&
               GetTickCount64() - start < StartWaitMs)
            Sleep(PollMs);
        if (status.dwCurrentState == SERVICE_RUNNING)
            swprintf(text, MessageSize, L"HolvRestart: %ls runs again.", name);
        else
            swprintf(text, MessageSize,
                     L"HolvRestart: %ls did not start again (state %lu, exit code %lu, service exit code %lu); "
                     L"the installation is complete. HOLV32.LOG in its folder tells why.",
                     name, status.dwCurrentState, status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
    }
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    LogInfo(install, text);
    return ERROR_SUCCESS;
}

// CustomActionData in the ANSI code page, as service_settings.cpp takes it;
// false (with a line in the log) when it cannot be written there.
static bool ActionData(MSIHANDLE install, const wchar_t* action, char* out, int size)
{
    static wchar_t data[SettingsTextSize + PathSize];
    wchar_t text[MessageSize];
    if (GetProperty(install, L"CustomActionData", data, sizeof data / sizeof data[0]) && ToAnsi(data, out, size))
        return true;
    swprintf(text, MessageSize, L"%ls: its data cannot be read in the ANSI code page.", action);
    LogInfo(install, text);
    return false;
}

// The outcome of a service step in the log; ERROR_INSTALL_FAILURE when it failed.
static UINT Report(MSIHANDLE install, const wchar_t* action, const char* name, const ServiceOutcome& outcome,
                   const wchar_t* done)
{
    wchar_t text[MessageSize];
    if (outcome.failedStep) {
        swprintf(text, MessageSize, L"%ls: %hs failed for %hs (error %lu).", action, outcome.failedStep, name,
                 (unsigned long)outcome.error);
        LogInfo(install, text);
        return ERROR_INSTALL_FAILURE;
    }
    swprintf(text, MessageSize, L"%ls: %hs %ls.", action, name, done);
    LogInfo(install, text);
    if (outcome.unsupported) {
        swprintf(text, MessageSize, L"%ls: this service manager does not keep %hs; %hs is left without.", action,
                 outcome.unsupported, name);
        LogInfo(install, text);
    }
    if (outcome.passwordNeeded) {
        swprintf(text, MessageSize,
                 L"%ls: %hs logs on with an account whose password no query returns; set it again "
                 L"(sc config %hs obj= ACCOUNT password= PASSWORD) before its next start.",
                 action, name, name);
        LogInfo(install, text);
    }
    return ERROR_SUCCESS;
}

// CustomActionData: "SERVICENAME|INTERACTIVE|STARTTYPE|RESTARTDELAY|INSTALLDIR|HOLV_SERVICE_BEFORE".
extern "C" UINT __stdcall HolvConfigureService(MSIHANDLE install)
{
    static char data[SettingsTextSize + PathSize];
    static PackageService service;
    static ServiceSettings before;
    const char* settings = NULL;
    if (!ActionData(install, L"HolvConfigureService", data, sizeof data))
        return ERROR_INSTALL_FAILURE;
    if (!ParsePackageService(data, &service, &settings)) {
        LogInfo(install, L"HolvConfigureService: its data is not NAME|INTERACTIVE|STARTTYPE|RESTARTDELAY|FOLDER|SETTINGS.");
        return ERROR_INSTALL_FAILURE;
    }
    char name[ServiceNameSize];
    bool installed = false;
    bool known = *settings && ParseServiceSettings(settings, name, &installed, &before);
    ServiceOutcome outcome = ApplyPackageService(service, known && installed ? &before : NULL);
    const wchar_t* done = L"changed in place (type, start type, binary path)";
    if (outcome.recreated)
        done = L"was deleted by the older version's removal and is created again with the settings it had";
    else if (outcome.created)
        done = L"created";
    else if (service.setRecovery)
        done = L"changed in place (type, start type, binary path, recovery)";
    return Report(install, L"HolvConfigureService", service.name, outcome, done);
}

// CustomActionData: HolvInspect's HOLV_SERVICE_BEFORE; empty when the
// service could not be read, and then nothing is put back.
extern "C" UINT __stdcall HolvConfigureServiceRollback(MSIHANDLE install)
{
    static char data[SettingsTextSize];
    if (!ActionData(install, L"HolvConfigureServiceRollback", data, sizeof data) || !data[0])
        return ERROR_SUCCESS;
    char name[ServiceNameSize];
    bool keep;
    ParseRemoval(data, name, &keep);  // the name, for the log
    Report(install, L"HolvConfigureServiceRollback", name, RestoreServiceSettings(data), L"put back as it was");
    return ERROR_SUCCESS;
}

// CustomActionData: "SERVICENAME|UPGRADINGPRODUCTCODE".
extern "C" UINT __stdcall HolvRemoveService(MSIHANDLE install)
{
    static char data[ServiceNameSize + 64];
    char name[ServiceNameSize];
    bool keep = false;
    if (!ActionData(install, L"HolvRemoveService", data, sizeof data) || !ParseRemoval(data, name, &keep))
        return ERROR_INSTALL_FAILURE;
    if (keep) {
        ServiceOutcome none = {};
        return Report(install, L"HolvRemoveService", name, none, L"kept: this removal is part of an upgrade");
    }
    return Report(install, L"HolvRemoveService", name, DeletePackageService(name), L"deleted");
}
