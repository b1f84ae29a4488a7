// The worker program: the refresh's decision, whether its copy can succeed,
// and where the start will find the program once it is done. The platform's
// own rules for names, drives, copies and starts are applied here as Windows
// documents them; the simulation applies the same rules, written apart.
#include "check.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/service.h"

#include <stdio.h>
#include <string.h>

enum {
    PathVariableSize = 32768,  // an environment variable's limit
    CompareBlockSize = 4096,
    HeaderBlockSize = 65536,   // a program's headers lie in its first bytes
};

static const char EnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

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

bool IsFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool HasPath(const char* name) { return strpbrk(name, "\\/:") != NULL; }

static bool HasDriveLetter(const char* path)
{
    char c = (char)(path[0] | 0x20);
    return c >= 'a' && c <= 'z' && path[1] == ':';
}

// "folder\name", without a second backslash after a root such as "D:\".
static void JoinPath(char* out, size_t size, const char* folder, const char* name)
{
    size_t n = strlen(folder);
    bool separated = n == 0 || folder[n - 1] == '\\' || folder[n - 1] == '/';
    snprintf(out, size, "%s%s%s", folder, separated ? "" : "\\", name);
}

// ---- the platform's rules ----------------------------------------------------

// The type of the drive a path names by its letter; DRIVE_UNKNOWN when it
// names none.
static UINT DriveTypeOf(const char* path)
{
    if (!HasDriveLetter(path))
        return DRIVE_UNKNOWN;
    char root[4] = {path[0], ':', '\\', 0};
    return GetDriveTypeA(root);
}

// 0 when the host can use `path` as a name, else the error a file function
// or a start fails with. Windows checks the whole name before it looks
// anything up: control characters, " * < > ? | and a ':' past the drive
// letter but the one in the last name that names an NTFS stream are refused
// with 123 (a search takes * and ? in its last name). Evidence: MS docs
// "Naming Files, Paths, and Namespaces"; "File Streams (Local File Systems)". A
// drive letter that names no drive fails with 3, and so, for the service, a
// drive mapped in a user's logon session: LocalSystem does not see it.
// The one ':' of a last name with a name before it and a stream's after it.
static bool StreamColon(const char* path, size_t i, size_t last)
{
    return i > last && path[i + 1] && !strchr(path + i + 1, ':');
}

static DWORD NameError(const char* path, bool pattern)
{
    size_t last = 0;
    for (size_t i = 0; path[i]; i++)
        if (path[i] == '\\' || path[i] == '/')
            last = i + 1;
    for (size_t i = 0; path[i]; i++) {
        unsigned char c = (unsigned char)path[i];
        bool wildcard = c == '*' || c == '?';
        if (c < 0x20 || strchr("\"<>|", c) || (wildcard && !(pattern && i >= last)) ||
            (c == ':' && !(i == 1 && HasDriveLetter(path)) && !StreamColon(path, i, last)))
            return ERROR_INVALID_NAME;
    }
    UINT drive = DriveTypeOf(path);
    return drive == DRIVE_NO_ROOT_DIR || drive == DRIVE_REMOTE ? ERROR_PATH_NOT_FOUND : 0;
}

// Why NameError refused a name, for a finding.
static const char* NameRefusal(DWORD error)
{
    return error == ERROR_INVALID_NAME ? "no file name may hold control characters, \" * < > ? |, or a ':' past the "
                                         "drive letter but one that names a stream in the last name"
                                       : "the service sees no such drive";
}

// Whether the last name of `path` has an extension; a name ending in '.'
// has one (an empty one), so no ".exe" is added to it.
static bool HasExtension(const char* path)
{
    const char* last = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/' || (p == path + 1 && *p == ':'))
            last = p + 1;
    return strchr(last, '.') != NULL;
}

// A name starting ".\" or "..\": taken from the working directory, exact
// name first, but failing as a relative name does (2).
static bool Dotted(const char* name)
{
    return (name[0] == '.' && (name[1] == '\\' || name[1] == '/')) ||
           (name[0] == '.' && name[1] == '.' && (name[2] == '\\' || name[2] == '/'));
}

// A name a start searches for along its search path: no drive letter, no
// leading separator, no leading ".\" or "..\"; folders may follow.
static bool PlainRelative(const char* name)
{
    return !HasDriveLetter(name) && name[0] != '\\' && name[0] != '/' && !Dotted(name);
}

// A file opened for reading only, shared with every other opener.
static HANDLE OpenToRead(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

enum ImageFault { ImageLoads, ImageNotMZ, ImageNoPE, ImageCutShort, ImageDll, ImageMachine, ImageSubsystem, ImageBatch };

static unsigned long Little(const unsigned char* at, int bytes)
{
    unsigned long v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = (v << 8) | at[i];
    return v;
}

// Whether Windows loads a file as a program: a start maps it as an image,
// which fails with 193 unless the file begins with "MZ", its e_lfanew field
// (offset 0x3C) points at "PE\0\0", the optional header's magic is 0x10B or
// 0x20B, and the file holds as many bytes as its headers (SizeOfHeaders)
// and every section's raw data need. `needed` and `length` tell a cut file.
//
// Nor is every image a program: a DLL (IMAGE_FILE_DLL) fails with 193, an
// image of a machine other than i386 or AMD64 with 216, a subsystem other
// than GUI or console with 129. A .bat or .cmd file is run by cmd.exe /c.
// Evidence: MS docs "System Error Codes" (216 ERROR_EXE_MACHINE_TYPE_MISMATCH,
// 129 ERROR_CHILD_NOT_COMPLETE "cannot be run in Win32 mode") and
// CreateProcess (batch files run by the command interpreter); no Wine or
// ReactOS test starts such an image.
static bool IsBatch(const char* path)
{
    size_t chars = strlen(path);
    return chars >= 4 && (lstrcmpiA(path + chars - 4, ".bat") == 0 || lstrcmpiA(path + chars - 4, ".cmd") == 0);
}

static ImageFault CheckImage(const char* path, unsigned long* needed, unsigned long* length)
{
    static unsigned char b[HeaderBlockSize];
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path, &data);
    if (search == INVALID_HANDLE_VALUE)
        return ImageNotMZ;
    FindClose(search);
    *length = data.nFileSizeHigh ? 0xFFFFFFFFul : (unsigned long)data.nFileSizeLow;
    HANDLE file = OpenToRead(path);
    DWORD read = 0, n = 0;
    while (file != INVALID_HANDLE_VALUE && read < sizeof b && ReadFile(file, b + read, sizeof b - read, &n, NULL) && n)
        read += n;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (read < 2 || b[0] != 'M' || b[1] != 'Z')
        return ImageNotMZ;
    if (read < 64)
        return ImageNoPE;
    // Offsets are checked against what was read; a field past it lies past
    // the file's first 64 KiB, which no header reaches.
    unsigned long long pe = Little(b + 0x3C, 4), end = *length;
    if (pe + 24 > end || pe + 24 > read || memcmp(b + pe, "PE\0\0", 4) != 0)
        return ImageNoPE;
    unsigned long long sections = Little(b + pe + 6, 2), optionalSize = Little(b + pe + 20, 2), optional = pe + 24;
    if (optionalSize < 64)
        return ImageNoPE;
    if (optional + optionalSize > end) {
        *needed = (unsigned long)(optional + optionalSize);
        return ImageCutShort;
    }
    if (optional + optionalSize > read)
        return ImageLoads;
    unsigned long magic = Little(b + optional, 2);
    if (magic != 0x10B && magic != 0x20B)
        return ImageNoPE;
    unsigned long long need = Little(b + optional + 60, 4), table = optional + optionalSize;
    if (table + 40 * sections > need)
        need = table + 40 * sections;
    for (unsigned long long i = 0; i < sections && table + 40 * (i + 1) <= read; i++) {
        unsigned long long raw = Little(b + table + 40 * i + 16, 4), pointer = Little(b + table + 40 * i + 20, 4);
        if (raw && pointer + raw > need)
            need = pointer + raw;
    }
    if (need > end) {
        *needed = need > 0xFFFFFFFFull ? 0xFFFFFFFFul : (unsigned long)need;
        return ImageCutShort;
    }
    if (Little(b + pe + 22, 2) & 0x2000)
        return ImageDll;
    unsigned long machine = Little(b + pe + 4, 2);
    if (machine != 0x14C && machine != 0x8664)
        return ImageMachine;
    if (optionalSize >= 70 && optional + 70 <= read) {
        unsigned long subsystem = Little(b + optional + 68, 2);
        if (subsystem != 2 && subsystem != 3)
            return ImageSubsystem;
    }
    return ImageLoads;
}

enum { MaxVariables = 64, VariableNameSize = 256 };

// The system's variables (the environment key's values), read once a check.
static char VariableNames[MaxVariables][VariableNameSize];
static char VariableValues[MaxVariables][PathVariableSize / 8];
static int VariableCount;

// `text` with each %NAME% of a system variable (and SystemRoot, windir)
// replaced, once more inside what replaced it; others stay as they are, as
// Windows leaves them. Evidence: MS docs ExpandEnvironmentStrings (an
// unknown reference is left unchanged).
static void ExpandSystem(const char* text, char* out, size_t size, int depth)
{
    size_t n = 0;
    out[0] = 0;
    for (const char* p = text; *p && n + 1 < size;) {
        const char* close = *p == '%' ? strchr(p + 1, '%') : NULL;
        if (!close) {
            out[n++] = *p++;
            out[n] = 0;
            continue;
        }
        char name[VariableNameSize];
        snprintf(name, sizeof name, "%.*s", (int)(close - p - 1), p + 1);
        char value[PathVariableSize / 8];
        bool known = false;
        if (lstrcmpiA(name, "SystemRoot") == 0 || lstrcmpiA(name, "windir") == 0) {
            UINT got = GetWindowsDirectoryA(value, sizeof value);
            known = got && got < sizeof value;
        }
        for (int i = 0; i < VariableCount && !known; i++)
            if (lstrcmpiA(name, VariableNames[i]) == 0) {
                if (depth > 0)
                    ExpandSystem(VariableValues[i], value, sizeof value, depth - 1);
                else
                    snprintf(value, sizeof value, "%s", VariableValues[i]);
                known = true;
            }
        int w = known ? snprintf(out + n, size - n, "%s", value)
                      : snprintf(out + n, size - n, "%.*s", (int)(close + 1 - p), p);
        n = w < 0 || (size_t)w >= size - n ? size - 1 : n + (size_t)w;
        p = close + 1;
    }
}

// The accounts whose profiles give a service no Path of their own.
static bool ServiceAccount(const char* account)
{
    char domain[14];
    snprintf(domain, sizeof domain, "%s", account);
    return lstrcmpiA(account, "LocalSystem") == 0 || lstrcmpiA(account, ".\\LocalSystem") == 0 ||
           lstrcmpiA(domain, "NT AUTHORITY\\") == 0;
}

// The PATH a service gets: the service manager builds its environment from
// the system's variables, and those of its account's profile, never from
// the user who runs this check: the system's Path with its references to
// the system's variables expanded, then a named account's own Path.
// Evidence: MS docs CreateEnvironmentBlock (the system's variables and the
// user's); the user's Path after the system's: ReactOS userenv
// CreateEnvironmentBlock (source; no test found). Empty when there is none.
static const char* SystemPath()
{
    static char path[PathVariableSize], raw[PathVariableSize];
    path[0] = raw[0] = 0;
    VariableCount = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EnvironmentKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return path;
    for (DWORD i = 0; VariableCount < MaxVariables; i++) {
        char name[VariableNameSize];
        DWORD nameSize = sizeof name, type = 0, size = sizeof VariableValues[0] - 1;
        LONG result = RegEnumValueA(key, i, name, &nameSize, NULL, &type, (LPBYTE)VariableValues[VariableCount], &size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || lstrcmpiA(name, "Path") == 0)
            continue;
        VariableValues[VariableCount][size < sizeof VariableValues[0] ? size : sizeof VariableValues[0] - 1] = 0;
        snprintf(VariableNames[VariableCount++], VariableNameSize, "%s", name);
    }
    DWORD type = 0, size = sizeof raw - 1;
    LONG result = RegQueryValueExA(key, "Path", NULL, &type, (LPBYTE)raw, &size);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        raw[size < sizeof raw ? size : sizeof raw - 1] = 0;
        if (type == REG_SZ)
            snprintf(path, sizeof path, "%s", raw);
        else
            ExpandSystem(raw, path, sizeof path, 1);
    }
    if (!Facts.installed || ServiceAccount(Facts.account))
        return path;
    // A named account's own Path, from its profile's hive while it is loaded.
    BYTE sid[SECURITY_MAX_SID_SIZE];
    char domain[256], sidText[192], subKey[256];
    DWORD sidSize = sizeof sid, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountNameA(NULL, Facts.account, sid, &sidSize, domain, &domainSize, &use))
        return path;
    SidText(sid, sidText, sizeof sidText);
    snprintf(subKey, sizeof subKey, "%s\\Environment", sidText);
    if (RegOpenKeyExA(HKEY_USERS, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        Finding(FindingNote, "the Path of %s cannot be read (its profile is not loaded): a start may also search "
                "the folders it names", Facts.account);
        return path;
    }
    size = sizeof raw - 1;
    result = RegQueryValueExA(key, "Path", NULL, &type, (LPBYTE)raw, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return path;
    raw[size < sizeof raw ? size : sizeof raw - 1] = 0;
    size_t n = strlen(path);
    if (n && n + 1 < sizeof path)
        path[n++] = ';', path[n] = 0;
    ExpandSystem(raw, path + n, sizeof path - n, 1);
    return path;
}

// A start of a name that is not plain relative: the exact name first, a
// folder there fails with 5; only when nothing is there is ".exe" added
// (unless the last name has an extension). Found nowhere: 3 when its folder
// is missing, else 2. 0 and the file in `found` when it is a file (or
// `willExist`, made by the copy before the start).
// Evidence: ReactOS RtlDosSearchPath_Ustr (source: "We have a full path, so
// check if it does exist" before the extension is tried; no test found); a
// folder there fails to open as a file (5). Wine agrees: "-eC:\RUN\W"
// copies to C:\RUN\W and starts it.
static DWORD ExactFirst(const char* name, const char* willExist, char* found, size_t size, const char** why)
{
    char withExe[MAX_PATH + 8];
    snprintf(withExe, sizeof withExe, "%s.exe", name);
    const char* tries[2] = {name, HasExtension(name) ? NULL : withExe};
    for (int i = 0; i < 2 && tries[i]; i++) {
        if (IsDirectory(tries[i])) {
            snprintf(found, size, "%s", tries[i]);
            *why = "it is a folder";
            return ERROR_ACCESS_DENIED;
        }
        if (IsFile(tries[i]) || (willExist && lstrcmpiA(tries[i], willExist) == 0)) {
            snprintf(found, size, "%s", tries[i]);
            return 0;
        }
    }
    snprintf(found, size, "%s", tries[1] ? tries[1] : name);
    char folder[MAX_PATH];
    ExecutableDirectory(name, folder, sizeof folder);
    if (folder[0] && !IsDirectory(folder)) {
        *why = "its folder does not exist";
        return ERROR_PATH_NOT_FOUND;
    }
    *why = "no such file";
    return ERROR_FILE_NOT_FOUND;
}

DWORD HostImageError(const char* image, char* looked, size_t size, const char** why)
{
    looked[0] = 0;
    if (DWORD error = NameError(image, false)) {
        *why = NameRefusal(error);
        return error;
    }
    if (!HasPath(image))
        return 0;
    char system[MAX_PATH], full[MAX_PATH * 2];
    UINT length = GetSystemDirectoryA(system, sizeof system);
    if (!length || length >= sizeof system)
        system[0] = 0;
    bool sameDrive = HasDriveLetter(image) && HasDriveLetter(system) && (image[0] | 0x20) == (system[0] | 0x20);
    bool rooted = image[0] == '\\' || image[0] == '/';
    if ((HasDriveLetter(image) && (image[2] == '\\' || image[2] == '/')) ||
        (rooted && (image[1] == '\\' || image[1] == '/')))
        snprintf(full, sizeof full, "%s", image);  // the whole path, or a share's
    else if (rooted)
        snprintf(full, sizeof full, "%.2s%s", HasDriveLetter(system) ? system : "", image);
    else if (sameDrive)
        JoinPath(full, sizeof full, system, image + 2);
    else if (HasDriveLetter(image))
        snprintf(full, sizeof full, "%.2s\\%s", image, image + 2);
    else
        JoinPath(full, sizeof full, system, image);
    return ExactFirst(full, NULL, looked, size, why);
}

// One place of the search; false when the name does not fit a path there
// or the service does not see the place.
static bool LookIn(const char* directory, const char* name, const char* willExist, char* found, size_t size)
{
    char candidate[MAX_PATH + 1];
    JoinPath(candidate, sizeof candidate, directory, name);
    if (strlen(candidate) >= MAX_PATH || NameError(candidate, false))
        return false;
    if (!IsFile(candidate) && !(willExist && lstrcmpiA(candidate, willExist) == 0))
        return false;
    snprintf(found, size, "%s", candidate);
    return true;
}

// Where a start finds `program` (the command line's first token) from the
// working directory: 0 and the file, or the start's error with why.
// `willExist` names a file a copy will have made by then. A name that is
// not plain relative is taken exactly first (ExactFirst); it fails with its
// name's error (123, 3), else ExactFirst's, but with ".\" or "..\" always
// with 2. A plain relative name, with folders or without, gets ".exe" when
// its last name has no extension, and is looked for in the folder the
// host's program lies in, the working directory, the system folder, the
// 16-bit system folder, the Windows folder, then along the system PATH;
// only files count, and found nowhere it fails with 2, whatever it holds.
// `alongPath` tells a find there.
// Evidence: MS docs CreateProcess (the search order); a failed search of a
// relative name is 2: ReactOS CreateProcessInternalW (source, as the issue
// read it; no test found).
static DWORD FindProgram(const char* program, const char* willExist, char* found, size_t size, const char** why,
                         bool* alongPath)
{
    *alongPath = false;
    found[0] = 0;
    if (!PlainRelative(program)) {
        DWORD error = NameError(program, false);
        if (error)
            *why = NameRefusal(error);
        else
            error = ExactFirst(program, willExist, found, size, why);
        if (error && error != ERROR_ACCESS_DENIED && Dotted(program)) {
            *why = "a name beginning with .\\ or ..\\ fails as a relative name does";
            error = ERROR_FILE_NOT_FOUND;
        }
        return error;
    }
    char name[MAX_PATH + 8];
    snprintf(name, sizeof name, "%s%s", program, HasExtension(program) ? "" : ".exe");
    char places[5][MAX_PATH] = {{0}};
    snprintf(places[0], MAX_PATH, "%s", Facts.runsHere && Facts.imageDirectory[0] && !Facts.unnamedFolder
                                            ? Facts.imageDirectory
                                            : OpenableFolder());
    snprintf(places[1], MAX_PATH, "%s", OpenableFolder());
    GetSystemDirectoryA(places[2], MAX_PATH);
    UINT windows = GetWindowsDirectoryA(places[4], MAX_PATH);
    if (windows && windows < MAX_PATH)
        JoinPath(places[3], MAX_PATH, places[4], "System");
    for (int i = 0; i < 5; i++)
        if (places[i][0] && LookIn(places[i], name, willExist, found, size))
            return 0;
    snprintf(found, size, "%s", name);
    static char path[PathVariableSize];
    snprintf(path, sizeof path, "%s", SystemPath());
    for (char* dir = path; *dir;) {
        char* end = dir + strcspn(dir, ";");
        char saved = *end;
        *end = 0;
        *alongPath = dir[0] && LookIn(dir, name, willExist, found, size);
        *end = saved;
        if (*alongPath)
            return 0;
        dir = saved ? end + 1 : end;
    }
    *why = "no such file";
    return ERROR_FILE_NOT_FOUND;
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

// What CopyFile("HOLV32IP.EXE", target) will fail with, and why; 0 when it
// succeeds. It opens the source before it makes the target, so a source
// that is a folder fails first (5); then the target's name; then its folder
// (3); a folder or a read-only file in the target's place is not
// overwritten (5), nor a file in use (32).
static DWORD CopyError(const char* target, const char** why)
{
    if (IsDirectory("HOLV32IP.EXE")) {
        *why = "HOLV32IP.EXE in the folder is a folder, which cannot be copied";
        return ERROR_ACCESS_DENIED;
    }
    if (DWORD error = NameError(target, false)) {
        *why = NameRefusal(error);
        return error;
    }
    char folder[MAX_PATH];
    ExecutableDirectory(target, folder, sizeof folder);
    if (folder[0] && !IsDirectory(folder)) {
        *why = "its folder does not exist, and the -e folder must";
        return ERROR_PATH_NOT_FOUND;
    }
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "it is a folder";
        return ERROR_ACCESS_DENIED;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        *why = "it is read-only, and a copy does not overwrite a read-only file";
        return ERROR_ACCESS_DENIED;
    }
    // Evidence: MS docs CopyFile (an existing hidden or read-only target
    // fails with ERROR_ACCESS_DENIED).
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN)) {
        *why = "it is hidden, and a copy does not overwrite a hidden file (attrib -h)";
        return ERROR_ACCESS_DENIED;
    }
    // Windows writes no running program's image: over a program another
    // service runs the copy fails with 32. Opened for writing as the copy
    // opens it, and closed at once: nothing is cut short or made.
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        HANDLE file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                                  NULL);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
            *why = "it is in use (a running program's image cannot be written: does another service run it?), so "
                   "the start runs the old program";
            return ERROR_SHARING_VIOLATION;
        }
    }
    return 0;
}

// The refresh as the host will decide it; returns whether the copy will
// succeed, so that the target exists as a file afterwards.
static bool CheckRefresh(RefreshPlan& plan)
{
    if (!plan.targetNamed) {
        // An empty -e has its own warning.
        if (!ProgramPath)
            Finding(FindingNote, "no -e option: nothing is copied, the host starts HOLV32IP.EXE");
        return false;
    }
    // A drive mapped for the user who checks: the service sees no such
    // drive, so its search finds no target, created at time 0.
    if (DriveTypeOf(ProgramPath) == DRIVE_REMOTE) {
        Finding(FindingWarning, "%c: is a network drive mapped in your logon session: the service runs as "
                "LocalSystem and does not see it, so the host's copy and start fail with error 3; name the share "
                "as \\\\server\\share\\... (its computer account must be allowed in)", ProgramPath[0]);
        plan.targetFound = false;
        plan.targetCreated.dwLowDateTime = plan.targetCreated.dwHighDateTime = 0;
        plan.copy = plan.localFound;
    }
    if (!plan.localFound) {
        Finding(FindingWarning, "-e names %s, but there is no HOLV32IP.EXE in the folder: the host ignores the -e "
                "option and starts HOLV32IP.EXE", ProgramPath);
        return false;
    }
    char local[64], target[64];
    ShowFileTime(local, sizeof local, plan.localCreated);
    ShowFileTime(target, sizeof target, plan.targetCreated);
    // A program of the administrator's own at the -e place is lost to the
    // next newer HOLV32IP.EXE, whether or not today's times copy it.
    bool own = plan.targetFound && IsFile(ProgramPath) && !SameBytes("HOLV32IP.EXE", ProgramPath);
    const char* error = NULL;
    DWORD copyError = plan.copy ? CopyError(ProgramPath, &error) : 0;
    if (!plan.copy && lstrcmpiA(ProgramPath, "HOLV32IP.EXE") == 0)
        Finding(FindingNote, "refresh: no copy; -e names HOLV32IP.EXE itself, which the host starts as it is");
    else if (!plan.copy)
        Finding(FindingNote, "refresh: no copy; %s (created %s) is not older than HOLV32IP.EXE (created %s)",
                ProgramPath, target, local);
    else if (plan.targetFound)
        Finding(FindingNote, "refresh: before the start the host copies HOLV32IP.EXE (created %s) over %s (created %s)",
                local, ProgramPath, target);
    else
        Finding(FindingNote, "refresh: before the start the host copies HOLV32IP.EXE (created %s) to %s, which does "
                "not exist yet", local, ProgramPath);
    if (copyError)
        // A failed copy leaves an old target to start; without one the
        // start's own finding follows.
        Finding(plan.targetFound ? FindingWarning : FindingError, "the copy to %s will fail: %s (error %lu)",
                ProgramPath, error, (unsigned long)copyError);
    if (own && plan.copy && !copyError)
        Finding(FindingWarning, "the start overwrites %s, whose bytes differ from HOLV32IP.EXE: -e names the place "
                "HOLV32IP.EXE is copied to, not a program of your own", ProgramPath);
    else if (own)
        Finding(FindingWarning, "%s is not HOLV32IP.EXE (its bytes differ) and is kept for now, but the next "
                "HOLV32IP.EXE created later (a delivery, or a touch) is copied over it: -e names the place "
                "HOLV32IP.EXE is copied to, not a program of your own", ProgramPath);
    if (!plan.copy || copyError)
        return false;
    // Evidence: MS docs "File Times" (a copy takes the source's last-write
    // time; an overwritten file keeps its creation time, which NTFS
    // tunnelling keeps even across a delete and a create). Wine reports the
    // last write as the creation time, so there the copy does not repeat.
    if (plan.targetFound)
        Finding(FindingNote, "on NTFS an overwritten file keeps its creation time, so the next start copies again, "
                "and every start after it");
    else
        Finding(FindingNote, "the copy is a new file, created at the time of the copy, after HOLV32IP.EXE: the "
                "next start does not copy");
    return true;
}

// Why a file is no program, for a finding.
static void ExplainFault(char* out, size_t size, ImageFault fault, unsigned long needed, unsigned long length)
{
    if (fault == ImageDll)
        snprintf(out, size, "it is a DLL");
    else if (fault == ImageMachine)
        snprintf(out, size, "it is built for another processor");
    else if (fault == ImageSubsystem)
        snprintf(out, size, "its subsystem is neither GUI nor console");
    else if (fault == ImageNotMZ)
        snprintf(out, size, "it does not begin with MZ");
    else if (fault == ImageNoPE)
        snprintf(out, size, "it begins with MZ but has no valid PE header");
    else
        snprintf(out, size, "it is cut short: its headers and sections need %lu bytes, it has %lu", needed, length);
}

const char* CheckProgram()
{
    RefreshPlan plan;
    DecideRefresh(&plan);
    bool copied = CheckRefresh(plan);

    // After a copy the target exists, whatever it is now.
    char willExist[MAX_PATH] = {0};
    if (copied) {
        if (!PlainRelative(plan.program))
            snprintf(willExist, sizeof willExist, "%s", plan.program);
        else
            JoinPath(willExist, sizeof willExist, OpenableFolder(), plan.program);
    }
    // The start takes the program from the command line as the host builds
    // it: a quoted path up to its next quote.
    char line[CommandLineSize], first[MAX_PATH + 1];
    if (BuildCommandLine(line, plan.program, IniPath, Facts.interactive) < CommandLineSize)
        ArgumentZero(line, first, sizeof first);
    else
        snprintf(first, sizeof first, "%s", plan.program);

    char found[MAX_PATH + 8];
    const char* why = "";
    bool alongPath = false;
    DWORD error = FindProgram(first, willExist[0] ? willExist : NULL, found, sizeof found, &why, &alongPath);
    size_t foundLength = strlen(found), firstLength = strlen(first);
    bool added = !HasExtension(first) && (PlainRelative(first) || (foundLength == firstLength + 4 &&
                                                                    lstrcmpiA(found + firstLength, ".exe") == 0));
    if (added && plan.localFound && plan.targetNamed && strcmp(first, plan.program) == 0)
        Finding(FindingWarning, "-e names %s, but the start runs %s.exe: Windows adds .exe to a last name without "
                "an extension, to a name with a drive or a leading \\ only when no file has the name as given; name "
                "the -e program with its .exe", first, first);
    // A stream of an NTFS file: its name is valid, the copy writes it.
    // Evidence: MS docs "File Streams (Local File Systems)"; for a start from
    // a stream no document or test was found.
    const char* last = plan.program;
    for (const char* p = plan.program; *p; p++)
        if (*p == '\\' || *p == '/' || (p == plan.program + 1 && *p == ':'))
            last = p + 1;
    const char* colon = plan.targetNamed ? strchr(last, ':') : NULL;
    if (colon)
        Finding(FindingWarning, "the -e path %s names the NTFS stream %s of the file %.*s: the copy writes "
                "HOLV32IP.EXE into that stream (making the file if there is none, and failing with 123 on a drive "
                "that is not NTFS), and no Windows document says that a program starts from a stream; name a plain "
                "file", plan.program, colon + 1, (int)(colon - plan.program), plan.program);
    // What is found then is the copy of HOLV32IP.EXE, or the file as it is now.
    bool copy = !error && willExist[0] && lstrcmpiA(found, willExist) == 0;
    unsigned long needed = 0, length = 0;
    ImageFault fault = error           ? ImageLoads
                       : IsBatch(found) ? ImageBatch
                                        : CheckImage(copy ? "HOLV32IP.EXE" : found, &needed, &length);
    DWORD faultError = fault == ImageMachine ? 216 : fault == ImageSubsystem ? 129 : ERROR_BAD_EXE_FORMAT;
    bool runs = fault == ImageLoads || fault == ImageBatch;
    Facts.programFound = !error && runs;
    Facts.startError = error ? error : !runs ? faultError : 0;
    if (!error && !runs) {
        char reason[CheckLineSize];
        ExplainFault(reason, sizeof reason, fault, needed, length);
        Finding(FindingError, "%s%s is not a program Windows loads (%s): the start fails with error %lu", found,
                copy ? ", a copy of HOLV32IP.EXE," : "", reason, (unsigned long)faultError);
    } else if (!error) {
        snprintf(Facts.programFile, sizeof Facts.programFile, "%s", found);
        Finding(FindingNote, "the start finds the program as %s%s", found,
                alongPath ? " (along the system PATH, the one a service gets)" : "");
        if (fault == ImageBatch)
            // The host's stop sets the folder's event and then waits on the
            // process it started, which is cmd's: the script must wait for
            // the event itself, and cmd ends only when the script does.
            Finding(FindingWarning, "%s is a batch file: Windows runs it as cmd.exe /c, so the host watches cmd, "
                    "not a program of yours; at a stop the host sets the shutdown event and waits for cmd, which "
                    "ends only when the script's last command does (whatever it started keeps running)", found);
    } else if (error == ERROR_ACCESS_DENIED) {
        Finding(FindingError, "%s is a folder: the start fails with error 5", found);
    } else if (error == ERROR_FILE_NOT_FOUND && PlainRelative(first)) {
        char whole[MAX_PATH + 8];
        JoinPath(whole, sizeof whole, Facts.directory, found);
        if (!HasPath(first) && strlen(whole) >= MAX_PATH)
            Finding(FindingError, "the folder's path is %u characters: %s would be %u, over the 259 a start can "
                    "reach, so the start fails with error 2", (unsigned)strlen(Facts.directory), whole,
                    (unsigned)strlen(whole));
        else
            Finding(FindingError, "the start will not find %s%s (looked for in the folder, the system folders and "
                    "the system PATH, which a service gets, as every name without a drive or a leading \\ is): it "
                    "fails with error 2", found, HasExtension(first) ? "" : " (a name without an extension gets .exe)");
    } else {
        Finding(FindingError, "the start will not find %s: %s; it fails with error %lu", found[0] ? found : first,
                why, (unsigned long)error);
    }
    return plan.program;
}
