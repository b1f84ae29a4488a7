// Simulated platform: files, their creation times and the machine's name.
#include "sim_state.h"

#include <fstream>

using namespace simstate;

// ---- drives and names --------------------------------------------------------

static bool HasDriveLetter(const std::string& path)
{
    return path.size() >= 2 && isalpha((unsigned char)path[0]) && path[1] == ':';
}

// A drive the calling process sees. Windows keeps a drive mapped with
// "net use" in the logon session that mapped it: a service, which runs as
// LocalSystem in a session of its own, sees none of a user's mapped drives.
static const sim::Script::Drive* SeenDrive(const State& s, char letter)
{
    auto it = s.script.drives.find((char)toupper((unsigned char)letter));
    if (it == s.script.drives.end())
        return nullptr;
    if (it->second.type == DRIVE_REMOTE && s.script.underServiceManager)
        return nullptr;
    return &it->second;
}

namespace simstate {

std::string DrivePath(const std::string& path)
{
    const State& s = S();
    if (s.script.drives.empty())
        return path;
    std::error_code ec;
    std::string here = fs::current_path(ec).string();
    std::string text = WindowsPath(here);
    // "\NAME" (not "\\server") is on the working directory's drive. (A path
    // that begins with '/' is this machine's own.)
    if (!path.empty() && path[0] == '\\' && (path.size() < 2 || path[1] != '\\') && HasDriveLetter(text))
        return DrivePath(text.substr(0, 2) + path);
    if (!HasDriveLetter(path))
        return path;
    const sim::Script::Drive* drive = SeenDrive(s, path[0]);
    if (!drive)
        return path;
    std::string rest = path.substr(2);
    if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/'))
        return drive->root + rest;
    // "X:NAME" is relative to the drive's current folder: the working
    // directory when that is on X, else X's root (a process has entered no
    // other drive's folders).
    std::string base = HasDriveLetter(text) && toupper((unsigned char)text[0]) == toupper((unsigned char)path[0])
                           ? here
                           : drive->root;
    return rest.empty() ? base : base + "/" + rest;
}

std::string WindowsPath(const std::string& native)
{
    const State& s = S();
    for (const auto& [letter, drive] : s.script.drives) {
        const std::string& root = drive.root;
        bool inside = native.compare(0, root.size(), root) == 0 &&
                      (native.size() == root.size() || native[root.size()] == '/');
        if (!inside || !SeenDrive(s, letter))
            continue;
        std::string rest = native.substr(root.size());
        std::replace(rest.begin(), rest.end(), '/', '\\');
        // A drive's root is "X:\", the one folder whose text ends in a backslash.
        return std::string(1, letter) + ":" + (rest.empty() ? "\\" : rest);
    }
    return native;
}

// NTFS as Windows' file functions see it: a name matches an entry whatever
// the case of its letters, and the path's last name loses its trailing dots
// and blanks ("W." and "W " name W). The files here are this machine's, so
// a name no entry has exactly is matched against the folder's entries.
// Evidence: MS docs "Naming Files, Paths, and Namespaces" (names are not
// case-sensitive; path normalization removes trailing periods and spaces
// from the last segment).
std::string ResolveName(const std::string& native)
{
    std::string p = native;
    size_t start = p.find_last_of('/') + 1;
    std::string last = p.substr(start);
    if (last != "." && last != "..") {
        size_t keep = last.find_last_not_of(". ");
        p.resize(keep == std::string::npos ? start : start + keep + 1);
    }
    struct stat st;
    if (p.empty() || stat(p.c_str(), &st) == 0)
        return p;
    std::string out = p[0] == '/' ? "/" : "";
    size_t at = p[0] == '/' ? 1 : 0;
    while (at <= p.size()) {
        size_t end = p.find('/', at);
        if (end == std::string::npos)
            end = p.size();
        std::string name = p.substr(at, end - at), folder = out.empty() ? "." : out;
        std::string exact = out + name;
        if (!name.empty() && name != "." && name != ".." && stat(exact.c_str(), &st) != 0) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(folder, ec))
                if (strcasecmp(entry.path().filename().c_str(), name.c_str()) == 0) {
                    name = entry.path().filename().string();
                    break;
                }
        }
        out += name;
        if (end == p.size())
            break;
        out += "/";
        at = end + 1;
    }
    return out;
}

// Windows checks a whole name before it looks anything up ("Naming Files,
// Paths, and Namespaces"): no name may hold a control character or any of
// " * < > ? |, and ':' only follows a drive letter at the start or, once in
// the last name, parts a file's name from one of its streams; such a name
// fails with 123 (ERROR_INVALID_NAME), a missing folder on its way or not.
// Evidence: MS docs "File Streams (Local File Systems)" ("filename:stream
// name" on NTFS, opened and created by CreateFile); every drive here is NTFS.
// FindFirstFile takes * and ? in the last name as a pattern. A drive letter
// that names no drive the caller sees fails with 3 (ERROR_PATH_NOT_FOUND).
DWORD NameError(const char* path, bool pattern)
{
    std::string p = path ? path : "";
    size_t last = p.find_last_of("\\/");
    last = last == std::string::npos ? 0 : last + 1;
    for (size_t i = 0; i < p.size(); i++) {
        unsigned char c = (unsigned char)p[i];
        bool wildcard = c == '*' || c == '?';
        bool stream = c == ':' && i > last && i + 1 < p.size() && p.find(':', i + 1) == std::string::npos;
        if (c < 0x20 || strchr("\"<>|", c) || (wildcard && !(pattern && i >= last)) ||
            (c == ':' && !(i == 1 && isalpha((unsigned char)p[0])) && !stream))
            return ERROR_INVALID_NAME;
    }
    if (!S().script.drives.empty() && HasDriveLetter(p) && !SeenDrive(S(), p[0]))
        return ERROR_PATH_NOT_FOUND;
    return 0;
}

}  // namespace simstate

UINT WINAPI GetDriveTypeA(LPCSTR root)
{
    auto lock = Enter("GetDriveTypeA", Text(root));
    State& s = S();
    std::error_code ec;
    std::string text = root ? root : WindowsPath(fs::current_path(ec).string()).substr(0, 3);
    if (!root && s.script.drives.empty())
        return DRIVE_FIXED;
    // Only a root names a drive: "X:\".
    if (text.size() != 3 || !HasDriveLetter(text) || (text[2] != '\\' && text[2] != '/'))
        return DRIVE_NO_ROOT_DIR;
    if (s.script.drives.empty())
        return DRIVE_FIXED;
    const sim::Script::Drive* drive = SeenDrive(s, text[0]);
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

// ---- files and machine -----------------------------------------------------

// Whether another process runs this file as its program.
static bool InUse(const State& s, const std::string& native)
{
    std::string file = Absolute(native);
    for (const std::string& path : s.script.filesInUse)
        if (Absolute(path) == file)
            return true;
    return false;
}

// The read-only attribute is the owner's write permission, as Wine maps it.
static DWORD AttributesOf(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

// The error of a name that names nothing: 3 when a folder on its way is
// missing (or is a file), else 2.
// Evidence: Wine dlls/kernel32/tests/file.c test_FindFirstFileA
// ("C:\foo\bar.txt" and "foo\bar.txt" fail with ERROR_PATH_NOT_FOUND); the
// same open of the name underlies GetFileAttributes and CreateFile.
static DWORD MissingError(const std::string& native)
{
    size_t slash = native.find_last_of('/', native.size() > 1 ? native.size() - 2 : 0);
    if (slash == std::string::npos)
        return ERROR_FILE_NOT_FOUND;
    struct stat st;
    std::string folder = native.substr(0, slash + 1);
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

static bool Hidden(const State& s, const std::string& native)
{
    for (const std::string& path : s.script.hiddenFiles)
        if (Absolute(path) == Absolute(native))
            return true;
    return false;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path)
{
    auto lock = Enter("GetFileAttributesA", Text(path));
    if (DWORD error = NameError(path, false))
        return (Fail(error), INVALID_FILE_ATTRIBUTES);
    struct stat st;
    std::string native = Native(path);
    if (!path || stat(native.c_str(), &st) != 0)
        return (Fail(MissingError(native)), INVALID_FILE_ATTRIBUTES);
    // A symbolic link stands for a junction or symbolic link: its own
    // attributes carry the reparse point's. Evidence: MS docs "File Attribute
    // Constants" (FILE_ATTRIBUTE_REPARSE_POINT) and "Reparse Points".
    struct stat link;
    bool reparse = lstat(native.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    return AttributesOf(st) | (Hidden(S(), native) ? FILE_ATTRIBUTE_HIDDEN : 0) |
           (reparse ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
}

BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size)
{
    auto lock = Enter("GetComputerNameA", std::to_string(*size));
    State& s = S();
    if (s.script.failComputerName)
        return Fail(s.script.failComputerName);
    const std::string& name = s.script.computerName;
    if (name.size() + 1 > *size) {
        *size = (DWORD)name.size() + 1;
        return Fail(ERROR_BUFFER_OVERFLOW);
    }
    memcpy(buffer, name.c_str(), name.size() + 1);
    *size = (DWORD)name.size();
    return TRUE;
}

static void FillFindData(State& s, const std::string& path, LPWIN32_FIND_DATAA data)
{
    struct stat st;
    stat(path.c_str(), &st);
    *data = {};
    data->dwFileAttributes = AttributesOf(st);
    auto it = s.creationTimes.find(Absolute(path));
    // Without a time of its own a file reports its last write, as Wine does.
    uint64_t ticks = it != s.creationTimes.end()
                         ? it->second
                         : (uint64_t)st.st_mtime * 10000000ull + 116444736000000000ull;
    data->ftCreationTime = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    data->nFileSizeLow = (DWORD)st.st_size;
    snprintf(data->cFileName, sizeof data->cFileName, "%s", fs::path(path).filename().string().c_str());
}

HANDLE WINAPI FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data)
{
    auto lock = Enter("FindFirstFileA", Text(path));
    State& s = S();
    if (DWORD error = NameError(path, true))
        return (Fail(error), INVALID_HANDLE_VALUE);
    std::string native = Native(path);
    std::vector<std::string> found;
    size_t slash = native.rfind('/');
    std::string dir = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? native : native.substr(slash + 1);
    if (pattern.find_first_of("*?") != std::string::npos) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec))
            if (fnmatch(pattern.c_str(), entry.path().filename().c_str(), 0) == 0)
                found.push_back(entry.path().string());
        std::sort(found.begin(), found.end());
    } else {
        // A name ending in a separator names no entry: the search fails,
        // with 2 where the folder exists, 3 where it does not.
        // Evidence: Wine dlls/kernel32/tests/file.c test_FindFirstFileA ("C:\"
        // fails with ERROR_FILE_NOT_FOUND, "C:\foo\" with ERROR_PATH_NOT_FOUND,
        // the latter todo_wine: Wine gives 2).
        struct stat st;
        bool separated = !native.empty() && native.back() == '/';
        if (!native.empty() && !separated && stat(native.c_str(), &st) == 0)
            found.push_back(native);
    }
    if (found.empty()) {
        struct stat st;
        bool folder = stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        return (Fail(folder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE);
    }
    FillFindData(s, found[0], data);
    Handle h{Kind::Search, native};
    h.results = found;
    return NewHandle(s, h);
}

BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data)
{
    auto lock = Enter("FindNextFileA", "");
    State& s = S();
    Handle* h = Find(s, search);
    if (!h || h->kind != Kind::Search)
        return Fail(ERROR_INVALID_HANDLE);
    // The results not yet given, in order; the first went to FindFirstFileA.
    h->pid++;
    if (h->pid >= h->results.size())
        return Fail(ERROR_NO_MORE_FILES);
    FillFindData(s, h->results[h->pid], data);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE search)
{
    auto lock = Enter("FindClose", "");
    State& s = S();
    Handle* h = Find(s, search);
    if (!h || h->kind != Kind::Search)
        return Fail(ERROR_INVALID_HANDLE);
    s.handles.erase((uintptr_t)search);
    return TRUE;
}

LONG WINAPI CompareFileTime(const FILETIME* first, const FILETIME* second)
{
    auto lock = Enter("CompareFileTime", "");
    uint64_t a = ((uint64_t)first->dwHighDateTime << 32) | first->dwLowDateTime;
    uint64_t b = ((uint64_t)second->dwHighDateTime << 32) | second->dwLowDateTime;
    return a < b ? -1 : a > b ? 1 : 0;
}

BOOL WINAPI CopyFileA(LPCSTR source, LPCSTR target, BOOL failIfExists)
{
    auto lock = Enter("CopyFileA", Text(source) + "," + Text(target) + "," + std::to_string(failIfExists));
    State& s = S();
    auto injected = s.script.copyFailures.find(target ? target : "");
    if (injected != s.script.copyFailures.end())
        return Fail(injected->second);
    // CopyFile opens the source before it creates the target: a source that
    // is a folder cannot be opened as a file (5), whatever the target.
    if (DWORD error = NameError(source, false))
        return Fail(error);
    std::string from = Native(source);
    struct stat st;
    if (stat(from.c_str(), &st) != 0)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (S_ISDIR(st.st_mode))
        return Fail(ERROR_ACCESS_DENIED);
    if (DWORD error = NameError(target, false))
        return Fail(error);
    // A folder, or a file with the read-only attribute, is not overwritten
    // (5), nor a running program's image (32); a missing folder on the way,
    // or a file in a folder's place, is 3.
    std::string to = Native(target);
    bool existed = stat(to.c_str(), &st) == 0;
    uint64_t created = existed ? (uint64_t)st.st_mtime * 10000000ull + 116444736000000000ull : 0;
    if (existed && s.creationTimes.count(Absolute(to)))
        created = s.creationTimes[Absolute(to)];
    if (existed) {
        // Evidence: MS docs CopyFile ("fails with ERROR_ACCESS_DENIED if the
        // destination file already exists and has the FILE_ATTRIBUTE_HIDDEN
        // or FILE_ATTRIBUTE_READONLY attribute set").
        if (S_ISDIR(st.st_mode) || (AttributesOf(st) & FILE_ATTRIBUTE_READONLY) || Hidden(s, to))
            return Fail(ERROR_ACCESS_DENIED);
        if (failIfExists)
            return Fail(80);
        if (InUse(s, to))
            return Fail(ERROR_SHARING_VIOLATION);
    }
    // A name ending in a separator names a folder: none there is 3.
    if (!existed && !to.empty() && to.back() == '/')
        return Fail(ERROR_PATH_NOT_FOUND);
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec)
        return Fail(ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory
                        ? ERROR_PATH_NOT_FOUND
                        : ERROR_ACCESS_DENIED);
    // Only the last write comes from the source: a target overwritten is
    // opened, not made again, and keeps its creation time (NTFS tunnelling
    // keeps it even across a delete and a create); a new one is created now.
    // Evidence: MS docs "File Times" (CopyFile: the new file gets the
    // source's last-write time, its own creation time) and CopyFile
    // ("The security resource properties ... are copied", not the times).
    // Wine gives the source's times instead (a Wine note).
    if (existed)
        s.creationTimes[Absolute(to)] = created;
    else
        s.creationTimes.erase(Absolute(to));
    // A stream belongs to a file: writing one makes the file, empty, where
    // there is none (here the stream is a file of its own beside it).
    // Evidence: MS docs "File Streams (Local File Systems)" (a file's unnamed
    // stream beside its named ones); the empty file: no test found.
    size_t slash = to.find_last_of('/'), colon = to.find(':', slash == std::string::npos ? 0 : slash + 1);
    if (colon != std::string::npos && colon > 1 && !fs::exists(to.substr(0, colon), ec))
        std::ofstream(to.substr(0, colon), std::ios::binary);
    return TRUE;
}

static UINT ScriptedDirectory(const std::string& text, LPSTR buffer, UINT size)
{
    if (text.size() + 1 > size)
        return (UINT)text.size() + 1;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return (UINT)text.size();
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    auto lock = Enter("GetSystemDirectoryA", std::to_string(size));
    return ScriptedDirectory(S().script.systemDirectory, buffer, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    auto lock = Enter("GetWindowsDirectoryA", std::to_string(size));
    return ScriptedDirectory(S().script.windowsDirectory, buffer, size);
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out)
{
    uint64_t ticks = ((uint64_t)time->dwHighDateTime << 32) | time->dwLowDateTime;
    if (ticks >= 0x8000000000000000ull)
        return Fail(ERROR_INVALID_PARAMETER);
    // Ticks of 100 ns since 1601; before 1970 is not needed here.
    time_t seconds = (time_t)((int64_t)(ticks / 10000000ull) - 11644473600ll);
    struct tm t = {};
    gmtime_r(&seconds, &t);
    *out = {(WORD)(t.tm_year + 1900), (WORD)(t.tm_mon + 1), (WORD)t.tm_wday, (WORD)t.tm_mday,
            (WORD)t.tm_hour, (WORD)t.tm_min, (WORD)t.tm_sec, (WORD)((ticks / 10000) % 1000)};
    return TRUE;
}

// Opens an existing file (OPEN_EXISTING) or creates a missing one
// (OPEN_ALWAYS), as Windows does: a folder, a read-only file (no write bits)
// opened for writing, a running program's image opened for writing (32), and
// a file another open handle does not share, refuse.
// A handle with FILE_APPEND_DATA and without FILE_WRITE_DATA writes at the
// file's end, whatever any other handle did meanwhile.
HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                          DWORD flags, HANDLE templateFile)
{
    auto lock = Enter("CreateFileA", Text(path) + "," + Hex(access) + "," + std::to_string(disposition));
    (void)share, (void)attributes, (void)flags, (void)templateFile;
    State& s = S();
    bool create = disposition == OPEN_ALWAYS;
    if (disposition != OPEN_EXISTING && !create)
        return (Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE);
    if (DWORD error = NameError(path, false))
        return (Fail(error), INVALID_HANDLE_VALUE);
    std::string native = Native(path);
    struct stat st;
    bool exists = path && stat(native.c_str(), &st) == 0;
    if (!exists && (!create || !path))
        return (Fail(path ? MissingError(native) : ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE);
    if (exists && S_ISDIR(st.st_mode))
        return (Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE);
    const DWORD writing = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA;
    if (exists && (access & writing) && !(st.st_mode & 0222))
        return (Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE);
    if (exists && (access & writing) && InUse(s, native))
        return (Fail(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE);
    // Each side must share what the other one does.
    auto uses = [](DWORD a) { return ((a & GENERIC_READ) ? FILE_SHARE_READ : 0) | ((a & writing) ? FILE_SHARE_WRITE : 0); };
    for (const auto& [value, h] : s.handles)
        if (h.kind == Kind::File && Absolute(h.name) == Absolute(native) &&
            ((uses(access) & ~h.share) || (uses(h.access) & ~share)))
            return (Fail(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE);
    bool appendOnly = (access & FILE_APPEND_DATA) && !(access & (GENERIC_WRITE | FILE_WRITE_DATA));
    int mode = !(access & writing) ? O_RDONLY : (access & GENERIC_READ) ? O_RDWR : O_WRONLY;
    mode |= (appendOnly ? O_APPEND : 0) | (create ? O_CREAT : 0);
    int fd = open(native.c_str(), mode, 0666);
    if (fd < 0)
        return (Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE);
    Handle h{Kind::File, native};
    h.pid = (DWORD)fd;
    h.access = access;
    h.share = share;
    if (create)
        LastError = exists ? ERROR_ALREADY_EXISTS : 0;
    return NewHandle(s, h);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPVOID overlapped)
{
    auto lock = Enter("ReadFile", std::to_string(size));
    (void)overlapped;
    Handle* h = Find(S(), file);
    if (!h || h->kind != Kind::File)
        return Fail(ERROR_INVALID_HANDLE);
    ssize_t n = ::read((int)h->pid, buffer, size);
    if (n < 0)
        return Fail(ERROR_ACCESS_DENIED);
    *read = (DWORD)n;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPVOID overlapped)
{
    // What another process does at this moment: it runs before this write's
    // bytes land, after this handle's position was set.
    std::function<void()> other;
    {
        std::lock_guard<std::mutex> g(S().m);
        std::swap(other, S().script.otherProcessWrites);
    }
    off_t end = -1;
    int fd = -1;
    if (S().script.appendLikeWine) {
        std::lock_guard<std::mutex> g(S().m);
        Handle* h = Find(S(), file);
        int flags = h && h->kind == Kind::File ? fcntl((int)h->pid, F_GETFL) : 0;
        if (flags & O_APPEND)  // Linux's pwrite would append on such a descriptor
            fd = (int)h->pid, fcntl(fd, F_SETFL, flags & ~O_APPEND), end = lseek(fd, 0, SEEK_END);
    }
    if (end >= 0 && !other)
        std::this_thread::sleep_for(std::chrono::microseconds(50));  // room for another writer
    if (other)
        other();
    auto lock = Enter("WriteFile", std::to_string(size));
    (void)overlapped;
    Handle* h = Find(S(), file);
    if (!h || h->kind != Kind::File)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(h->access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)))
        return Fail(ERROR_ACCESS_DENIED);
    ssize_t n = end >= 0 && fd == (int)h->pid ? ::pwrite(fd, buffer, size, end) : ::write((int)h->pid, buffer, size);
    if (n < 0)
        return Fail(ERROR_ACCESS_DENIED);
    if (written)
        *written = (DWORD)n;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method)
{
    auto lock = Enter("SetFilePointer", std::to_string(distance) + "," + std::to_string(method));
    Handle* h = Find(S(), file);
    if (!h || h->kind != Kind::File || distanceHigh)
        return (Fail(ERROR_INVALID_PARAMETER), (DWORD)-1);
    off_t at = lseek((int)h->pid, distance, method == FILE_END ? SEEK_END : method == FILE_BEGIN ? SEEK_SET : SEEK_CUR);
    if (at < 0)
        return (Fail(ERROR_INVALID_PARAMETER), (DWORD)-1);
    return (DWORD)at;
}

// A lock conflicts with any other handle's lock on the same file that shares
// a byte; it may lie past the end of the file. A handle without read or write
// access cannot lock.
// Evidence: MS docs LockFileEx; Wine dlls/kernel32/tests/file.c test_LockFile.
BOOL WINAPI LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD lengthLow, DWORD lengthHigh, LPOVERLAPPED at)
{
    auto lock = Enter("LockFileEx", Hex(flags));
    State& s = S();
    Handle* h = Find(s, file);
    if (!h || h->kind != Kind::File || reserved || !at)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!(h->access & (GENERIC_READ | GENERIC_WRITE)))
        return Fail(ERROR_ACCESS_DENIED);
    // Exclusive, fail-immediately locks only: the host takes no other kind.
    if (flags != (LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY) || h->lockLength)
        return Fail(ERROR_INVALID_PARAMETER);
    uint64_t from = ((uint64_t)at->OffsetHigh << 32) | at->Offset;
    uint64_t length = ((uint64_t)lengthHigh << 32) | lengthLow;
    for (const auto& [value, other] : s.handles)
        if (&other != h && other.kind == Kind::File && other.lockLength &&
            Absolute(other.name) == Absolute(h->name) && from < other.lockAt + other.lockLength &&
            other.lockAt < from + length)
            return Fail(ERROR_LOCK_VIOLATION);
    h->lockAt = from, h->lockLength = length;
    return TRUE;
}

