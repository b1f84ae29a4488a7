// The worker program: the refresh's decision, whether its copy can succeed,
// and where the start will find the program once it is done.
#include "check.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/service.h"

#include <stdio.h>
#include <string.h>

enum { PathVariableSize = 8192, CompareBlockSize = 4096 };

void ArgumentZero(const char* commandLine, char* out, size_t size)
{
    const char* start = commandLine;
    const char* end;
    if (*start == '"') {
        start++;
        end = strchr(start, '"');
        if (!end)
            end = start + strlen(start);
    } else {
        end = start + strcspn(start, " \t");
    }
    snprintf(out, size, "%.*s", (int)(end - start), start);
}

void ImageOf(const char* binaryPath, char* out, size_t size)
{
    if (binaryPath[0] == '"') {
        ArgumentZero(binaryPath, out, size);
        return;
    }
    size_t length = strlen(binaryPath);
    for (size_t i = 0; i + 4 <= length; i++) {
        const char* p = binaryPath + i;
        bool exe = p[0] == '.' && (p[1] | 0x20) == 'e' && (p[2] | 0x20) == 'x' && (p[3] | 0x20) == 'e';
        if (exe && (p[4] == 0 || p[4] == ' ' || p[4] == '\t')) {
            length = i + 4;
            break;
        }
    }
    snprintf(out, size, "%.*s", (int)length, binaryPath);
}

static bool IsFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool IsDirectory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One place of the search; false when the name does not fit a path there.
static bool LookIn(const char* directory, const char* name, const char* willExist, char* found, size_t size)
{
    char candidate[MAX_PATH];
    int n = snprintf(candidate, sizeof candidate, "%s%s%s", directory,
                     directory[0] && directory[strlen(directory) - 1] != '\\' ? "\\" : "", name);
    if (n < 0 || n >= (int)sizeof candidate)
        return false;
    if (!IsFile(candidate) && !(willExist && lstrcmpiA(candidate, willExist) == 0))
        return false;
    snprintf(found, size, "%s", candidate);
    return true;
}

// Where a start finds `program` (the command line's first token) from the
// working directory. False with the start's error when nowhere; `willExist`
// names a file a copy will have made by then.
static bool FindProgram(const char* program, const char* willExist, char* found, size_t size, DWORD* error)
{
    // A name with a path is taken as it stands, without an added extension.
    if (strpbrk(program, "\\/:")) {
        if (IsFile(program) || (willExist && lstrcmpiA(program, willExist) == 0)) {
            snprintf(found, size, "%s", program);
            return true;
        }
        // A missing folder on the way is no different: the search finds nothing.
        *error = IsDirectory(program) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        return false;
    }
    // A bare name gets .exe unless it has an extension, and is looked for in
    // the application's folder (the host's, also its working directory), the
    // system folders, the Windows folder, then along PATH.
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%s%s", program, strchr(program, '.') ? "" : ".exe");
    char places[4][MAX_PATH] = {{0}};
    GetCurrentDirectoryA(MAX_PATH, places[0]);
    GetSystemDirectoryA(places[1], MAX_PATH);
    UINT windows = GetWindowsDirectoryA(places[3], MAX_PATH);
    if (windows && windows < MAX_PATH)
        snprintf(places[2], MAX_PATH, "%s\\System", places[3]);
    for (int i = 0; i < 4; i++)
        if (places[i][0] && LookIn(places[i], name, willExist, found, size))
            return true;
    static char path[PathVariableSize];
    DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
    if (length && length < sizeof path) {
        for (char* dir = path; *dir;) {
            char* end = dir + strcspn(dir, ";");
            char saved = *end;
            *end = 0;
            bool hit = dir[0] && LookIn(dir, name, willExist, found, size);
            *end = saved;
            if (hit)
                return true;
            dir = saved ? end + 1 : end;
        }
    }
    *error = ERROR_FILE_NOT_FOUND;
    return false;
}

// A file opened for reading only, shared with every other opener.
static HANDLE OpenToRead(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

// Whether a file begins as every Windows program does, with "MZ".
static bool LooksLikeProgram(const char* path)
{
    HANDLE file = OpenToRead(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char magic[2] = {0, 0};
    DWORD read = 0;
    bool ok = ReadFile(file, magic, sizeof magic, &read, NULL) && read == 2;
    CloseHandle(file);
    return ok && magic[0] == 'M' && magic[1] == 'Z';
}

// Whether two files hold the same bytes.
static bool SameBytes(const char* first, const char* second)
{
    HANDLE a = OpenToRead(first);
    HANDLE b = OpenToRead(second);
    bool same = a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE;
    static char blockA[CompareBlockSize], blockB[CompareBlockSize];
    while (same) {
        DWORD na = 0, nb = 0;
        same = ReadFile(a, blockA, sizeof blockA, &na, NULL) && ReadFile(b, blockB, sizeof blockB, &nb, NULL) &&
               na == nb && memcmp(blockA, blockB, na) == 0;
        if (na == 0)
            break;
    }
    if (a != INVALID_HANDLE_VALUE)
        CloseHandle(a);
    if (b != INVALID_HANDLE_VALUE)
        CloseHandle(b);
    return same;
}

// The refresh as the host will decide it; returns whether the copy will
// succeed, so that the target exists as a file afterwards.
static bool CheckRefresh(const RefreshPlan& plan)
{
    if (!plan.targetNamed) {
        Finding(FindingNote, "no -e option: nothing is copied, the host starts HOLV32IP.EXE");
        return false;
    }
    if (!plan.localFound) {
        Finding(FindingWarning, "-e names %s, but there is no HOLV32IP.EXE in the folder: the host ignores the -e "
                "option and starts HOLV32IP.EXE", ProgramPath);
        return false;
    }
    char local[64], target[64];
    ShowFileTime(local, sizeof local, plan.localCreated);
    ShowFileTime(target, sizeof target, plan.targetCreated);
    if (!plan.copy) {
        Finding(FindingNote, "refresh: no copy; %s (created %s) is not older than HOLV32IP.EXE (created %s)",
                ProgramPath, target, local);
        return false;
    }
    if (plan.targetFound)
        Finding(FindingNote, "refresh: before the start the host copies HOLV32IP.EXE (created %s) over %s (created %s)",
                local, ProgramPath, target);
    else
        Finding(FindingNote, "refresh: before the start the host copies HOLV32IP.EXE (created %s) to %s, which does "
                "not exist yet", local, ProgramPath);
    char folder[MAX_PATH];
    ExecutableDirectory(ProgramPath, folder, sizeof folder);
    if (folder[0] && !IsDirectory(folder)) {
        Finding(FindingError, "the copy to %s will fail: its folder %s does not exist (error 3); the -e folder must "
                "exist", ProgramPath, folder);
        return false;
    }
    if (IsDirectory(ProgramPath)) {
        Finding(FindingError, "the copy to %s will fail: it is a folder (error 5)", ProgramPath);
        return false;
    }
    if (plan.targetFound) {
        if (!SameBytes("HOLV32IP.EXE", ProgramPath))
            Finding(FindingWarning, "the start overwrites %s, whose bytes differ from HOLV32IP.EXE: -e names the "
                    "place HOLV32IP.EXE is copied to, not a program of your own", ProgramPath);
        Finding(FindingNote, "on NTFS an overwritten file keeps its creation time, so this copy repeats at every "
                "start");
    }
    return true;
}

const char* CheckProgram()
{
    RefreshPlan plan;
    DecideRefresh(&plan);
    bool copied = CheckRefresh(plan);

    // After a copy the target exists, whatever it is now.
    char willExist[MAX_PATH] = {0};
    if (copied) {
        if (strpbrk(plan.program, "\\/:"))
            snprintf(willExist, sizeof willExist, "%s", plan.program);
        else
            snprintf(willExist, sizeof willExist, "%s\\%s", Facts.directory, plan.program);
    }
    char found[MAX_PATH];
    DWORD error = 0;
    Facts.programFound = FindProgram(plan.program, willExist[0] ? willExist : NULL, found, sizeof found, &error);
    // What is found then is the copy of HOLV32IP.EXE, or the file as it is now.
    bool copy = willExist[0] && lstrcmpiA(found, willExist) == 0;
    if (Facts.programFound && !LooksLikeProgram(copy ? "HOLV32IP.EXE" : found)) {
        Facts.programFound = false;
        Facts.startError = ERROR_BAD_EXE_FORMAT;
        Finding(FindingError, "%s%s is not a program (it does not begin with MZ): the start fails with error 193",
                found, copy ? ", a copy of HOLV32IP.EXE," : "");
    } else if (Facts.programFound) {
        snprintf(Facts.programFile, sizeof Facts.programFile, "%s", found);
        Finding(FindingNote, "the start finds the program as %s", found);
    } else {
        Facts.startError = error;
        bool bare = !strpbrk(plan.program, "\\/:");
        size_t reach = strlen(Facts.directory) + 1 + strlen(plan.program) + (strchr(plan.program, '.') ? 0 : 4);
        if (bare && reach >= MAX_PATH)
            Finding(FindingError, "the folder's path is %u characters: %s\\%s would be %u, over the 259 a start can "
                    "reach, so the start fails with error %lu", (unsigned)strlen(Facts.directory),
                    Facts.directory, plan.program, (unsigned)reach, (unsigned long)error);
        else
            Finding(FindingError, "the start will not find %s%s: it fails with error %lu", plan.program,
                    bare ? (strchr(plan.program, '.') ? " (looked for in the folder, the system folders and PATH)"
                                                      : ".exe (a name without an extension gets .exe)")
                         : "",
                    (unsigned long)error);
    }
    return plan.program;
}
