// HOLVMSI.DLL, the package's custom actions.
//
// HolvInspect (immediate, before the launch conditions) finds out what
// Windows Installer conditions cannot: whether the service exists and from
// which folder, whether it runs, whether HOLV32IP.EXE in the install folder is
// the one the package put there, and how long the folder's path is as the
// host will see it. It only sets properties; the package's conditions decide.
//
//   HOLV_DIR_TOO_LONG     the folder's length, when it is over the host's limit
//   HOLV_FOREIGN_SERVICE  the program of a service of that name from elsewhere
//   HOLV_WAS_RUNNING      1 when the package's own service is not stopped
//   HOLV_WORKER_FREE      1 when HOLV32IP.EXE is absent or the package's own
//   HOLV_WORKER_DIR       the folder, when HOLV32IP.EXE is the package's own
//
// HolvAwaitStop (deferred, after StopServices) waits until the service named
// in CustomActionData has stopped and its process has ended, so its files can
// be removed. Windows Installer's own wait ends after 30 seconds, and the host
// waits for its worker without a limit.
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
    MessageSize = 512,
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

// Looks at the installed service NAME: whose it is and whether it runs.
static void InspectService(MSIHANDLE install, const wchar_t* name, const wchar_t* folder,
                           const wchar_t* savedName, const wchar_t* savedFolder)
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!service) {
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
        // The package's own: HOLVSVC.EXE in the install folder, or, under the
        // remembered name, in the folder the installed package used.
        bool own = IsHostIn(path, folder) ||
                   (savedName[0] && SameText(name, savedName) && IsHostIn(path, savedFolder));
        if (!own) {
            MsiSetPropertyW(install, L"HOLV_FOREIGN_SERVICE", path[0] ? path : L"?");
        } else {
            SERVICE_STATUS status;
            if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
                status.dwCurrentState != SERVICE_STOP_PENDING)
                MsiSetPropertyW(install, L"HOLV_WAS_RUNNING", L"1");
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
    wchar_t folder[PathSize], savedFolder[PathSize];
    wchar_t name[NameSize], savedName[NameSize];
    wchar_t savedHash[HashTextSize];
    bool folderFits = GetProperty(install, L"INSTALLDIR", folder, PathSize);
    GetProperty(install, L"SERVICENAME", name, NameSize);
    GetProperty(install, L"HOLV_SAVED_SERVICENAME", savedName, NameSize);
    GetProperty(install, L"HOLV_SAVED_INSTALLDIR", savedFolder, PathSize);
    GetProperty(install, L"HOLV_SAVED_WORKER_SHA256", savedHash, HashTextSize);
    TrimFolder(folder);
    TrimFolder(savedFolder);

    // The length in the ANSI code page, which is what the host works in.
    int length = folderFits ? WideCharToMultiByte(CP_ACP, 0, folder, -1, NULL, 0, NULL, NULL) - 1
                            : PathSize;
    if (length > LongestDirectory) {
        wchar_t text[16];
        swprintf(text, 16, L"%d", length);
        MsiSetPropertyW(install, L"HOLV_DIR_TOO_LONG", text);
        return ERROR_SUCCESS;
    }
    if (name[0])
        InspectService(install, name, folder, savedName, savedFolder);
    InspectWorker(install, folder, savedHash);
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

// One line in the installation's log.
static void LogInfo(MSIHANDLE install, const wchar_t* text)
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
