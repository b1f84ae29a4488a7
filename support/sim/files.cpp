// Simulated platform: files, their creation times and the machine's name.
#include "sim_state.h"

using namespace simstate;

// ---- files and machine -----------------------------------------------------

DWORD WINAPI GetFileAttributesA(LPCSTR path)
{
    auto lock = Enter("GetFileAttributesA", Text(path));
    struct stat st;
    if (!path || stat(Native(path).c_str(), &st) != 0)
        return (Fail(ERROR_FILE_NOT_FOUND), INVALID_FILE_ATTRIBUTES);
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
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
    data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
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
        struct stat st;
        if (!native.empty() && stat(native.c_str(), &st) == 0)
            found.push_back(native);
    }
    if (found.empty())
        return (Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE);
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
    std::string from = Native(source), to = Native(target);
    struct stat st;
    if (stat(from.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return Fail(ERROR_FILE_NOT_FOUND);
    if (stat(to.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return Fail(ERROR_ACCESS_DENIED);
        if (failIfExists)
            return Fail(80);
    }
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec)
        return Fail(ec == std::errc::no_such_file_or_directory ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    // The copy keeps the source's creation time, as Wine's CopyFile does.
    auto it = s.creationTimes.find(Absolute(from));
    if (it != s.creationTimes.end())
        s.creationTimes[Absolute(to)] = it->second;
    else
        s.creationTimes.erase(Absolute(to));
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
// opened for writing, and a file another open handle does not share, refuse.
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
    std::string native = Native(path);
    struct stat st;
    bool exists = path && stat(native.c_str(), &st) == 0;
    if (!exists && (!create || !path))
        return (Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE);
    if (exists && S_ISDIR(st.st_mode))
        return (Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE);
    const DWORD writing = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA;
    if (exists && (access & writing) && !(st.st_mode & 0222))
        return (Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE);
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
    if (other)
        other();
    auto lock = Enter("WriteFile", std::to_string(size));
    (void)overlapped;
    Handle* h = Find(S(), file);
    if (!h || h->kind != Kind::File)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(h->access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)))
        return Fail(ERROR_ACCESS_DENIED);
    ssize_t n = ::write((int)h->pid, buffer, size);
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
