// Simulated platform: processes, environment, the pauses of the virtual clock and the last error.
#include "sim_state.h"

using namespace simstate;

// ---- processes and environment ---------------------------------------------

void WINAPI GetStartupInfoA(LPSTARTUPINFOA info)
{
    auto lock = Enter("GetStartupInfoA", "");
    static char desktop[] = "WinSta0\\Default";
    *info = {};
    info->cb = sizeof *info;
    info->lpDesktop = desktop;
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value)
{
    auto lock = Enter("SetEnvironmentVariableA", Text(name) + "," + Text(value));
    if (!name)
        return Fail(ERROR_INVALID_PARAMETER);
    if (value)
        S().environment[name] = value;
    else
        S().environment.erase(name);
    return TRUE;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    auto lock = Enter("GetEnvironmentVariableA", Text(name));
    State& s = S();
    std::string key = name ? name : "";
    auto it = s.environment.find(key);
    // PATH is the scripted one unless the host set its own.
    bool scriptedPath = it == s.environment.end() && key == "PATH" && !s.script.path.empty();
    if (it == s.environment.end() && !scriptedPath)
        return (Fail(203), 0);
    const std::string& value = scriptedPath ? s.script.path : it->second;
    if (value.size() + 1 > size)
        return (DWORD)value.size() + 1;
    memcpy(buffer, value.c_str(), value.size() + 1);
    return (DWORD)value.size();
}

LPSTR WINAPI lstrcatA(LPSTR target, LPCSTR text)
{
    auto lock = Enter("lstrcatA", Text(target) + "," + Text(text));
    return strcat(target, text);
}

int WINAPI lstrcmpiA(LPCSTR first, LPCSTR second)
{
    auto lock = Enter("lstrcmpiA", Text(first) + "," + Text(second));
    return strcasecmp(first, second);
}

// The program a command line names first, found as Windows finds it: a name
// with a path is taken as it stands; one without is looked for, with .exe
// added when it has no extension, in the working directory, the system and
// Windows directories and along PATH, each full path short of MAX_PATH.
// Returns 0 when found, else the start's error.
static DWORD FindProgramOf(const State& s, const std::string& commandLine)
{
    std::string program;
    if (!commandLine.empty() && commandLine[0] == '"') {
        size_t end = commandLine.find('"', 1);
        program = commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    } else {
        program = commandLine.substr(0, commandLine.find_first_of(" \t"));
    }
    auto isFile = [](const std::string& path) {
        struct stat st;
        return stat(Native(path.c_str()).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    };
    // A program file begins with "MZ"; any other file is no program.
    auto format = [](const std::string& path) -> DWORD {
        char magic[2] = {0, 0};
        FILE* file = fopen(Native(path.c_str()).c_str(), "rb");
        if (file) {
            if (fread(magic, 1, 2, file) != 2)
                magic[0] = 0;
            fclose(file);
        }
        return magic[0] == 'M' && magic[1] == 'Z' ? 0 : ERROR_BAD_EXE_FORMAT;
    };
    if (program.find_first_of("\\/:") != std::string::npos) {
        return isFile(program) ? format(program) : ERROR_FILE_NOT_FOUND;
    }
    std::string name = program.find('.') == std::string::npos ? program + ".exe" : program;
    std::error_code ec;
    std::vector<std::string> places{fs::current_path(ec).string()};
    for (const std::string* dir : {&s.script.systemDirectory, &s.script.windowsDirectory})
        if (!dir->empty())
            places.push_back(*dir);
    std::stringstream path(s.script.path);
    for (std::string dir; std::getline(path, dir, ';');)
        if (!dir.empty())
            places.push_back(dir);
    for (const std::string& dir : places)
        if (dir.size() + 1 + name.size() < MAX_PATH && isFile(dir + "/" + name))
            return format(dir + "/" + name);
    return ERROR_FILE_NOT_FOUND;
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                           LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION info)
{
    auto lock = Enter("CreateProcessA", Text(application) + "," + Text(commandLine));
    State& s = S();
    sim::ProcessStart start{};
    start.ms = s.now;
    start.nullApplication = application == nullptr;
    start.commandLine = commandLine ? commandLine : "";
    start.nullProcessAttributes = processAttributes == nullptr;
    start.nullThreadAttributes = threadAttributes == nullptr;
    start.inheritHandles = inheritHandles;
    start.flags = flags;
    start.ownEnvironment = environment == nullptr;
    start.environment = s.environment;
    start.ownDirectory = directory == nullptr;
    std::error_code ec;
    start.directory = directory ? Native(directory) : fs::current_path(ec).string();
    start.eventName = sim::EventNameFor(start.directory);
    if (startup)
        start.startup = *startup;

    BOOL ok = TRUE;
    if (s.script.failCreateProcess)
        ok = Fail(s.script.failCreateProcess);
    else if (DWORD error = s.script.requireProgramFile ? FindProgramOf(s, start.commandLine) : 0)
        ok = Fail(error);
    if (ok) {
        DWORD pid = s.nextPid += 4;
        s.processes.push_back({pid, s.script.worker, start.eventName, s.now});
        info->dwProcessId = pid;
        info->dwThreadId = pid + 1;
        info->hProcess = NewHandle(s, {Kind::Process, "", pid});
        info->hThread = NewHandle(s, {Kind::Thread, "", pid});
        start.processId = pid;
    }
    s.starts.push_back(start);
    return ok;
}

HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId)
{
    auto lock = Enter("OpenProcess", Hex(access) + "," + std::to_string(inherit) + "," + std::to_string(processId));
    State& s = S();
    if (s.openProcessFailuresLeft < s.script.openProcessFailures) {
        s.openProcessFailuresLeft++;
        return (Fail(s.script.openProcessError), nullptr);
    }
    for (const Process& p : s.processes)
        if (p.pid == processId)
            return NewHandle(s, {Kind::Process, "", processId});
    return (Fail(ERROR_INVALID_PARAMETER), nullptr);
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode)
{
    auto lock = Enter("GetExitCodeProcess", "");
    State& s = S();
    Handle* h = Find(s, process);
    if (!h || h->kind != Kind::Process || s.timeLimitHit)
        return Fail(ERROR_INVALID_HANDLE);
    for (const Process& p : s.processes)
        if (p.pid == h->pid) {
            *exitCode = ExitCodeAt(s, p);
            return TRUE;
        }
    return Fail(ERROR_INVALID_HANDLE);
}

void WINAPI Sleep(DWORD milliseconds)
{
    State& s = S();
    std::unique_lock<std::mutex> lock(s.m);
    DeliverAtCall(s, lock);
    Record(s, "Sleep", std::to_string(milliseconds));
    uint64_t until = s.now + milliseconds;
    DeliverDue(s, lock, until);
    s.now = until;
    if (s.script.concurrentControls) {
        // Real time for the main thread to deliver what is now due.
        s.cv.notify_all();
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        lock.lock();
    }
    // Past the time limit no worker's exit code can be read any more, which
    // ends any wait of the host's.
    if (s.now >= s.script.timeLimitMs)
        s.timeLimitHit = true;
}

DWORD WINAPI GetLastError(void) { return LastError; }
void WINAPI SetLastError(DWORD code) { LastError = code; }
