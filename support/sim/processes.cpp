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

// A process the service manager starts gets its environment from the
// system's variables in the registry, not from any user's: its PATH is the
// system PATH, expanded. Any other process has the scripted one. Either way
// a PATH the process set itself counts.
std::string simstate::ProcessPath(const State& s)
{
    auto it = s.environment.find("PATH");
    if (it != s.environment.end())
        return it->second;
    return s.script.underServiceManager ? ServicePath(s) : s.script.path;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    auto lock = Enter("GetEnvironmentVariableA", Text(name));
    State& s = S();
    std::string key = name ? name : "";
    auto it = s.environment.find(key);
    std::string path = key == "PATH" ? ProcessPath(s) : "";
    bool hasPath = it == s.environment.end() && !path.empty();
    if (it == s.environment.end() && !hasPath)
        return (Fail(203), 0);
    const std::string& value = hasPath ? path : it->second;
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

// What a start does with the file it found: 0 when it runs, else its error.
// CreateProcess maps the file as an image, and that fails with 193
// (ERROR_BAD_EXE_FORMAT) unless the file has a DOS header ("MZ"), its
// e_lfanew field points at "PE\0\0" inside the file, the optional header
// there has a known magic (0x10B for 32-bit, 0x20B for 64-bit programs), and
// the file is at least as long as its headers (SizeOfHeaders) and each
// section's raw data say.
// - A DLL (IMAGE_FILE_DLL) is no program: 193.
//   Evidence: MS docs CreateProcess (the module must be an application) and
//   "System Error Codes" (193: not a valid Win32 application); no test found.
// - An image for another machine than i386 or AMD64: 216.
//   Evidence: MS docs "System Error Codes" ERROR_EXE_MACHINE_TYPE_MISMATCH
//   ("valid, but is for a machine type other than the current machine").
// - A subsystem neither GUI (2) nor console (3), a native one say: 129.
//   Evidence: MS docs "System Error Codes" ERROR_CHILD_NOT_COMPLETE ("The %1
//   application cannot be run in Win32 mode"); no test found, the weakest
//   of these rules.
// - A .bat or .cmd file runs as "cmd.exe /c <file>": the process is cmd's.
//   Evidence: MS docs CreateProcess (a batch file is run by the command
//   interpreter, cmd.exe /c); no test found.
static DWORD ImageError(const std::string& native)
{
    std::string extension = native.size() >= 4 ? native.substr(native.size() - 4) : "";
    if (strcasecmp(extension.c_str(), ".bat") == 0 || strcasecmp(extension.c_str(), ".cmd") == 0)
        return 0;
    FILE* file = fopen(native.c_str(), "rb");
    if (!file)
        return ERROR_BAD_EXE_FORMAT;
    std::string b;
    char block[4096];
    for (size_t n; (n = fread(block, 1, sizeof block, file)) > 0;)
        b.append(block, n);
    fclose(file);
    auto at = [&](uint64_t offset, int bytes) -> uint64_t {
        uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; i--)
            v = (v << 8) | (offset + i < b.size() ? (unsigned char)b[offset + i] : 0);
        return v;
    };
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z')
        return ERROR_BAD_EXE_FORMAT;
    uint64_t pe = at(0x3C, 4);
    if (pe + 24 > b.size() || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return ERROR_BAD_EXE_FORMAT;
    uint64_t sections = at(pe + 6, 2), optionalSize = at(pe + 20, 2), optional = pe + 24;
    if (optionalSize < 64 || optional + optionalSize > b.size())
        return ERROR_BAD_EXE_FORMAT;
    if (at(optional, 2) != 0x10B && at(optional, 2) != 0x20B)
        return ERROR_BAD_EXE_FORMAT;
    if (at(optional + 60, 4) > b.size())
        return ERROR_BAD_EXE_FORMAT;
    uint64_t table = optional + optionalSize;
    if (table + 40 * sections > b.size())
        return ERROR_BAD_EXE_FORMAT;
    for (uint64_t i = 0; i < sections; i++) {
        uint64_t raw = at(table + 40 * i + 16, 4), pointer = at(table + 40 * i + 20, 4);
        if (raw && pointer + raw > b.size())
            return ERROR_BAD_EXE_FORMAT;
    }
    if (at(pe + 22, 2) & 0x2000)
        return ERROR_BAD_EXE_FORMAT;
    if (at(pe + 4, 2) != 0x14C && at(pe + 4, 2) != 0x8664)
        return 216;
    if (optionalSize >= 70 && at(optional + 68, 2) != 2 && at(optional + 68, 2) != 3)
        return 129;
    return 0;
}

// The program a command line names first, found as Windows finds it.
// - The module name is the text inside the first pair of quotes, else up
//   to the first blank (the host quotes a path with blanks, so the service
//   manager's walk over an unquoted path's blanks is HOLVCHK's alone).
// - A name that is not plain relative (a drive letter, a leading '\', or a
//   leading ".\" or "..\") is tried exactly as given first; a folder there
//   fails with 5. Only when nothing is there is ".exe" added, if its last
//   name has no extension (a name ending in '.' has one). Found nowhere:
//   its name's error (123, or 3 for a drive not seen), 3 for a missing
//   folder, else 2; a name with ".\" or "..\" always 2.
//   Evidence: no test found; source: ReactOS RtlDosSearchPath_Ustr ("We
//   have a full path, so check if it does exist", then the extension). The
//   errors after a failed search: ReactOS CreateProcessInternalW, as the
//   issue read it (not re-read here). MS docs CreateProcess say no .exe is
//   added to a name with a path only of lpApplicationName, not of the
//   command line; Wine agrees with the exact name first.
// - A plain relative name, with folders or without, gets ".exe" when its
//   last name has no extension and is searched in the folder the program
//   was loaded from, the working directory, the system folder, the 16-bit
//   system folder (<Windows>\System), the Windows folder, then along the
//   process's PATH; only files count, each whole path short of MAX_PATH.
//   Found nowhere: 2, whatever the name holds.
//   Evidence: MS docs CreateProcess (the search order); the 2 for every
//   failed search of a relative name: ReactOS CreateProcessInternalW
//   (source, as the issue read it; no test found).
// - A file found must be a program (ImageError).
// Returns 0 and the file's path of this machine when found, else the error.
static DWORD FindProgramOf(const State& s, const std::string& commandLine, std::string* image)
{
    std::string program;
    if (!commandLine.empty() && commandLine[0] == '"') {
        size_t end = commandLine.find('"', 1);
        program = commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    } else {
        program = commandLine.substr(0, commandLine.find_first_of(" \t"));
    }
    size_t slash = program.find_last_of("\\/");
    bool drive = program.size() >= 2 && isalpha((unsigned char)program[0]) && program[1] == ':';
    bool rooted = !program.empty() && (program[0] == '\\' || program[0] == '/');
    bool dotted = program.rfind(".\\", 0) == 0 || program.rfind("./", 0) == 0 || program.rfind("..\\", 0) == 0 ||
                  program.rfind("../", 0) == 0;
    size_t lastName = slash != std::string::npos ? slash + 1 : drive ? 2 : 0;
    bool extension = program.find('.', lastName) != std::string::npos;
    struct stat st;
    auto isFile = [&](const std::string& native) { return stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode); };
    auto loads = [&](const std::string& native) -> DWORD {
        if (DWORD error = ImageError(native))
            return error;
        *image = native;
        return 0;
    };
    if (drive || rooted || dotted) {
        if (DWORD error = NameError(program.c_str(), false))
            return dotted ? ERROR_FILE_NOT_FOUND : error;
        for (const std::string& name : {program, extension ? std::string() : program + ".exe"}) {
            std::string native = name.empty() ? "" : Native(name.c_str());
            if (native.empty() || stat(native.c_str(), &st) != 0)
                continue;
            return S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : loads(native);
        }
        std::string folder = Native(program.substr(0, lastName).c_str());
        bool noFolder = !folder.empty() && (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode));
        return noFolder && !dotted ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    }
    std::string name = extension ? program : program + ".exe";
    if (NameError(name.c_str(), false))
        return ERROR_FILE_NOT_FOUND;
    std::error_code ec;
    std::string here = fs::current_path(ec).string();
    std::vector<std::string> places{s.script.applicationDirectory.empty() ? here : s.script.applicationDirectory,
                                    here};
    if (!s.script.systemDirectory.empty())
        places.push_back(s.script.systemDirectory);
    if (!s.script.windowsDirectory.empty()) {
        places.push_back(s.script.windowsDirectory + "\\System");
        places.push_back(s.script.windowsDirectory);
    }
    std::stringstream path(ProcessPath(s));
    for (std::string dir; std::getline(path, dir, ';');)
        if (!dir.empty())
            places.push_back(dir);
    for (const std::string& dir : places) {
        std::string text = WindowsPath(Native(dir.c_str()));
        std::string whole = text + (text.back() == '\\' ? "" : "\\") + name;
        std::string native = Native(whole.c_str());
        if (whole.size() < MAX_PATH && !NameError(whole.c_str(), false) && isFile(native))
            return loads(native);
    }
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
    start.directory = directory ? Native(directory) : WindowsPath(fs::current_path(ec).string());
    start.eventName = sim::EventNameFor(start.directory);
    if (startup)
        start.startup = *startup;

    BOOL ok = TRUE;
    if (s.script.failCreateProcess)
        ok = Fail(s.script.failCreateProcess);
    else if (DWORD error = s.script.requireProgramFile ? FindProgramOf(s, start.commandLine, &start.image) : 0)
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
    if (s.script.appendLikeWine) {
        // Writers of one log run at real speed: a retry gives the holder real time.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        lock.lock();
    }
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

std::string sim::ProgramImage(const std::string& tag)
{
    std::string b(0x400, '\0');
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; i++)
            b[at + i] = (char)(v >> (8 * i));
    };
    b[0] = 'M', b[1] = 'Z';
    put(0x3C, 0x40, 4);                       // e_lfanew
    b.replace(0x40, 4, std::string("PE\0\0", 4));
    put(0x44, 0x14C, 2);                      // i386
    put(0x46, 1, 2);                          // one section
    put(0x54, 0xE0, 2);                       // optional header size
    put(0x56, 0x102, 2);                      // executable, 32-bit
    put(0x58, 0x10B, 2);                      // PE32
    put(0x58 + 16, 0x1000, 4);                // entry point
    put(0x58 + 28, 0x400000, 4);              // image base
    put(0x58 + 32, 0x1000, 4);                // section alignment
    put(0x58 + 36, 0x200, 4);                 // file alignment
    put(0x58 + 40, 4, 2);                     // OS version 4.0
    put(0x58 + 48, 4, 2);                     // subsystem version 4.0
    put(0x58 + 56, 0x2000, 4);                // size of image
    put(0x58 + 60, 0x200, 4);                 // size of headers
    put(0x58 + 68, 3, 2);                     // console
    put(0x58 + 92, 16, 4);                    // data directories
    b.replace(0x138, 5, ".text");
    put(0x138 + 8, 0x200, 4);                 // virtual size
    put(0x138 + 12, 0x1000, 4);               // virtual address
    put(0x138 + 16, 0x200, 4);                // raw size
    put(0x138 + 20, 0x200, 4);                // raw data
    put(0x138 + 36, 0x60000020, 4);           // code, executable, readable
    b[0x200] = (char)0xC3;                    // ret
    return b + tag;
}
