// Simulated platform: named events and the working directory.
#include "sim_state.h"

using namespace simstate;

// ---- events and directory ----------------------------------------------------

// The working directory's text, scripted or this machine's; and either
// call's answer: too small a buffer gets the size needed, terminator
// included, and no text.
template <typename Text, typename Char>
static DWORD CurrentDirectory(const char* call, DWORD size, Char* buffer, Text (*convert)(const std::string&))
{
    auto lock = Enter(call, std::to_string(size));
    State& s = S();
    if (s.script.failDirectory)
        return (Fail(s.script.failDirectory), 0);
    std::error_code ec;
    Text text = convert(s.script.scriptedDirectory ? s.script.directoryText : WindowsPath(fs::current_path(ec).string()));
    if (text.size() + 1 > size)
        return (DWORD)text.size() + 1;
    memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
    return (DWORD)text.size();
}

// A scripted text is the system's, as the calling program's A calls give
// it; this machine's path is taken as it is.
static std::string AnsiText(const std::string& text)
{
    return S().script.scriptedDirectory ? InProcessCodePage(text) : text;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer)
{
    return CurrentDirectory<std::string>("GetCurrentDirectoryA", size, buffer, AnsiText);
}

DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer)
{
    return CurrentDirectory<std::wstring>("GetCurrentDirectoryW", size, buffer, Wide);
}

// Wide names are UTF-16 text of this machine's UTF-8 paths.
std::string simstate::Narrow(LPCWSTR text)
{
    std::string out(4 * wcslen(text) + 1, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], (int)out.size(), NULL, NULL);
    return out.substr(0, n > 0 ? (size_t)n - 1 : 0);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path)
{
    auto lock = Enter("SetCurrentDirectoryW", path ? Narrow(path) : "null");
    if (!path)
        return Fail(ERROR_PATH_NOT_FOUND);
    std::string native = Native(Narrow(path).c_str());
    if (chdir(native.c_str()) == 0)
        return TRUE;
    struct stat st;
    return Fail(stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
}

// Evidence: MS docs GetModuleFileNameW (a path cut to the buffer fills it
// and ends in ERROR_INSUFFICIENT_BUFFER; the count excludes the terminator).
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    auto lock = Enter("GetModuleFileNameW", std::to_string(size));
    std::string file = S().script.moduleFileName.empty() ? "" : WindowsPath(S().script.moduleFileName);
    if (module || file.empty())
        return (Fail(module ? ERROR_MOD_NOT_FOUND : S().script.failModuleName), 0);
    std::wstring wide(file.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, file.c_str(), (int)file.size(), &wide[0], (int)wide.size());
    wide.resize((size_t)n);
    if (wide.size() + 1 > size) {
        if (size) {
            memcpy(buffer, wide.c_str(), (size - 1) * sizeof(wchar_t));
            buffer[size - 1] = 0;
        }
        return (Fail(ERROR_INSUFFICIENT_BUFFER), size);
    }
    memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return (DWORD)wide.size();
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path)
{
    auto lock = Enter("SetCurrentDirectoryA", Text(path));
    if (!path)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (DWORD error = NameError(path, false))
        return Fail(error);
    std::string native = Native(path);
    if (chdir(native.c_str()) == 0)
        return TRUE;
    // A file given as the folder is 267 (ERROR_DIRECTORY).
    struct stat st;
    return Fail(stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    char text[1025];
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    auto lock = Enter("wsprintfA", Text(format) + "," + Text(text));
    memcpy(buffer, text, strlen(text) + 1);
    return n;
}

HANDLE WINAPI OpenEventA(DWORD access, BOOL inherit, LPCSTR name)
{
    auto lock = Enter("OpenEventA", Hex(access) + "," + std::to_string(inherit) + "," + Text(name));
    State& s = S();
    if (s.script.failOpenEvent)
        return (Fail(s.script.failOpenEvent), nullptr);
    auto it = s.events.find(name ? name : "");
    if (it == s.events.end())
        return (Fail(ERROR_FILE_NOT_FOUND), nullptr);
    it->second.handles++;
    return NewHandle(s, {Kind::Event, name});
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    auto lock = Enter("CreateEventA", std::string(attributes ? "attrs" : "null") + "," + std::to_string(manualReset) +
                                          "," + std::to_string(initialState) + "," + Text(name));
    State& s = S();
    if (s.script.failCreateEvent)
        return (Fail(s.script.failCreateEvent), nullptr);
    std::string key = name ? name : "";
    bool existed = s.events.count(key) != 0;
    sim::Event& e = s.events[key];
    if (!existed)
        e.signaled = initialState != FALSE;
    e.handles++;
    LastError = existed ? 183 : 0;
    return NewHandle(s, {Kind::Event, key});
}

BOOL WINAPI SetEvent(HANDLE event)
{
    auto lock = Enter("SetEvent", "");
    State& s = S();
    Handle* h = Find(s, event);
    if (!h || h->kind != Kind::Event)
        return Fail(ERROR_INVALID_HANDLE);
    sim::Event& e = s.events[h->name];
    if (!e.signaled)
        e.firstSetMs = s.now;
    e.signaled = true;
    e.setCount++;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    auto lock = Enter("CloseHandle", "");
    State& s = S();
    Handle* h = Find(s, handle);
    if (!h)
        return Fail(ERROR_INVALID_HANDLE);
    s.calls.back().args = Text(h->name.c_str());  // what was closed: the event's or the file's name
    if (h->kind == Kind::Event)
        s.events[h->name].handles--;
    if (h->kind == Kind::File)
        close((int)h->pid);
    s.handles.erase((uintptr_t)handle);
    return TRUE;
}
