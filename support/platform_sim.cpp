// A deterministic Win32 for tests: virtual clock, scripted service manager,
// simulated workers, named events, real files, and a record of every call.
//
// Threads follow Windows: StartServiceCtrlDispatcherA runs ServiceMain on a
// thread of its own and delivers controls on the calling (main) thread. A
// control is delivered while ServiceMain's thread waits inside a platform
// call (a Sleep that spans its time, or any call once it is due), so every
// run takes the same course.
#include "platform_sim.h"
#include "sim_control.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fnmatch.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

enum class Kind { Event, Process, Thread, Search, Manager, Service };

struct Handle {
    Kind kind;
    std::string name;  // event name, or search results
    DWORD pid = 0;
    std::vector<std::string> results;
};

struct Process {
    DWORD pid;
    sim::WorkerScript script;
    std::string eventName;
    uint64_t startMs;
};

struct State {
    std::mutex m;
    std::condition_variable cv;

    sim::Script script;
    uint64_t now = 0;
    std::vector<sim::Call> calls;
    std::vector<sim::Report> reports;
    std::vector<sim::ProcessStart> starts;
    std::map<std::string, sim::Event> events;
    std::map<std::string, std::string> environment;
    std::map<std::string, uint64_t> creationTimes;  // by absolute path
    std::map<uintptr_t, Handle> handles;
    uintptr_t nextHandle = 0x1000;
    std::vector<Process> processes;
    DWORD nextPid = 4000;

    std::thread::id mainThread;
    LPHANDLER_FUNCTION handler = nullptr;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    size_t nextControl = 0;
    int serviceCalls = 0;
    bool atCallDelivered = false;
    int pendingControl = -1;
    bool controlDone = false;
    bool serviceDone = false;
    bool dispatcherReturned = false;
    bool stoppedReported = false;
    size_t callsAtStopped = 0;
    bool timeLimitHit = false;
    int reportCount = 0;
    int openServiceHandles = 0;
    int openProcessFailuresLeft = 0;
};

State& S()
{
    static State state;
    return state;
}

thread_local DWORD LastError = 0;

std::string Hex(uint64_t v)
{
    char b[32];
    snprintf(b, sizeof b, "0x%llx", (unsigned long long)v);
    return b;
}

std::string Text(const char* s) { return s ? std::string("\"") + s + "\"" : "null"; }

// Caller holds the lock.
void Record(State& s, const char* name, const std::string& args)
{
    bool main = std::this_thread::get_id() == s.mainThread;
    s.calls.push_back({s.now, main, name, args});
    if (!main)
        s.serviceCalls++;
}

HANDLE NewHandle(State& s, Handle h)
{
    uintptr_t v = s.nextHandle;
    s.nextHandle += 4;
    s.handles[v] = std::move(h);
    return (HANDLE)v;
}

Handle* Find(State& s, HANDLE h)
{
    auto it = s.handles.find((uintptr_t)h);
    return it == s.handles.end() ? nullptr : &it->second;
}

std::string Native(const char* path)
{
    std::string p = path ? path : "";
    for (char& c : p)
        if (c == '\\')
            c = '/';
    return p;
}

std::string Absolute(const std::string& native)
{
    std::error_code ec;
    fs::path p = fs::absolute(native, ec);
    return ec ? native : p.lexically_normal().string();
}

uint64_t EventExitTime(State& s, const Process& p)
{
    uint64_t exit = UINT64_MAX;
    if (p.script.kind == sim::WorkerScript::ExitAt)
        exit = p.script.ms;
    if (p.script.kind == sim::WorkerScript::ExitAfterEvent) {
        auto it = s.events.find(p.eventName);
        if (it != s.events.end() && it->second.signaled)
            exit = std::max(it->second.firstSetMs, p.startMs) + p.script.ms;
    }
    if (p.script.killAtMs && p.script.killAtMs < exit)
        exit = p.script.killAtMs;
    return exit;
}

DWORD ExitCodeAt(State& s, const Process& p)
{
    uint64_t exit = EventExitTime(s, p);
    if (exit > s.now)
        return STILL_ACTIVE;
    if (p.script.killAtMs && exit == p.script.killAtMs)
        return 1;
    return p.script.exitCode;
}

// Hands one control to the main thread and waits until the handler returned.
// Called on ServiceMain's thread with the lock held.
void Deliver(State& s, std::unique_lock<std::mutex>& lock, DWORD control)
{
    if (!s.handler || s.stoppedReported) {
        Record(s, "(control dropped)", std::to_string(control));
        return;
    }
    s.pendingControl = (int)control;
    s.controlDone = false;
    s.cv.notify_all();
    s.cv.wait(lock, [&] { return s.controlDone; });
}

// Delivers every control due by virtual time `until`, advancing the clock to
// each one's time. Only ServiceMain's thread delivers.
void DeliverDue(State& s, std::unique_lock<std::mutex>& lock, uint64_t until)
{
    // Controls wait for the handler's registration, as at a real manager.
    if (std::this_thread::get_id() == s.mainThread || !s.handler || s.script.concurrentControls)
        return;
    while (s.nextControl < s.script.controls.size() && s.script.controls[s.nextControl].first <= until) {
        auto [at, code] = s.script.controls[s.nextControl++];
        if (at > s.now)
            s.now = at;
        Deliver(s, lock, code);
    }
}

// The control scripted for one of ServiceMain's calls, once its index is reached.
void DeliverAtCall(State& s, std::unique_lock<std::mutex>& lock)
{
    if (std::this_thread::get_id() == s.mainThread || !s.handler || s.atCallDelivered ||
        s.script.controlAtCall < 0 || s.serviceCalls < s.script.controlAtCall)
        return;
    s.atCallDelivered = true;
    Deliver(s, lock, s.script.controlAtCallCode);
}

// The common opening of a host-side call: deliver what is due, then record.
std::unique_lock<std::mutex> Enter(const char* name, const std::string& args)
{
    State& s = S();
    std::unique_lock<std::mutex> lock(s.m);
    DeliverAtCall(s, lock);
    DeliverDue(s, lock, s.now);
    Record(s, name, args);
    return lock;
}

BOOL Fail(DWORD error)
{
    LastError = error;
    return FALSE;
}

}  // namespace

// ---- the test driver -------------------------------------------------------

namespace sim {

void Reset()
{
    State& s = S();
    std::lock_guard<std::mutex> lock(s.m);
    s.script = Script();
    s.now = 0;
    s.calls.clear();
    s.reports.clear();
    s.starts.clear();
    s.events.clear();
    s.environment.clear();
    s.creationTimes.clear();
    s.handles.clear();
    s.processes.clear();
    s.handler = nullptr;
    s.statusHandle = nullptr;
    s.nextControl = 0;
    s.serviceCalls = 0;
    s.atCallDelivered = false;
    s.pendingControl = -1;
    s.controlDone = false;
    s.serviceDone = false;
    s.dispatcherReturned = false;
    s.stoppedReported = false;
    s.callsAtStopped = 0;
    s.timeLimitHit = false;
    s.reportCount = 0;
    s.openServiceHandles = 0;
    s.openProcessFailuresLeft = 0;
    s.mainThread = std::this_thread::get_id();
    LastError = 0;
}

Script& script() { return S().script; }
uint64_t now() { return S().now; }
const std::vector<Call>& calls() { return S().calls; }
const std::vector<Report>& reports() { return S().reports; }
const std::vector<ProcessStart>& starts() { return S().starts; }
const std::map<std::string, Event>& events() { return S().events; }
bool dispatcherReturned() { return S().dispatcherReturned; }
bool controlAtCallDelivered() { return S().atCallDelivered; }
int serviceMainCalls() { return S().serviceCalls; }
bool stoppedReported() { return S().stoppedReported; }
bool timeLimitHit() { return S().timeLimitHit; }
int openServiceHandles() { return S().openServiceHandles; }

std::vector<std::string> callNames()
{
    std::vector<std::string> names;
    for (const Call& c : S().calls)
        names.push_back(c.name);
    return names;
}

std::string environment(const std::string& name)
{
    auto it = S().environment.find(name);
    return it == S().environment.end() ? "" : it->second;
}

void HoldEvent(const std::string& name, bool signaled)
{
    Event& e = S().events[name];
    e.signaled = signaled;
    e.handles++;
}

void SetCreationTime(const std::string& path, uint64_t ticks)
{
    S().creationTimes[Absolute(Native(path.c_str()))] = ticks;
}

std::vector<std::string> callsAfterStopped()
{
    State& s = S();
    std::vector<std::string> after;
    if (!s.stoppedReported)
        return after;
    for (size_t i = s.callsAtStopped; i < s.calls.size(); i++)
        if (!s.calls[i].mainThread)
            after.push_back(s.calls[i].name);
    return after;
}

DWORD workerExitTime(DWORD processId)
{
    State& s = S();
    for (const Process& p : s.processes)
        if (p.pid == processId) {
            uint64_t exit = EventExitTime(s, p);
            return exit <= s.now ? (DWORD)exit : 0;
        }
    return 0;
}

std::string EventNameFor(const std::string& directoryText)
{
    // Byte by byte into its place in a little-endian word.
    uint32_t h = 0;
    size_t n = std::min<size_t>(directoryText.size(), 260);
    for (size_t i = 0; i < n; i++)
        h ^= (uint32_t)(unsigned char)directoryText[i] << (8 * (i % 4));
    return "HOLVSVCE_SHUTDOWN:" + std::to_string(h);
}

}  // namespace sim

// ---- service control manager -----------------------------------------------

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table)
{
    State& s = S();
    std::unique_lock<std::mutex> lock(s.m);
    s.mainThread = std::this_thread::get_id();
    std::string names;
    const SERVICE_TABLE_ENTRYA* entry = nullptr;
    for (const SERVICE_TABLE_ENTRYA* e = table; e->lpServiceName; e++) {
        names += std::string(names.empty() ? "" : ",") + e->lpServiceName;
        if (s.script.serviceName == e->lpServiceName)
            entry = e;
    }
    Record(s, "StartServiceCtrlDispatcherA", names);
    if (!s.script.underServiceManager)
        return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    if (!entry)
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);

    // ServiceMain's arguments live as long as its thread.
    std::vector<std::string> args{s.script.serviceName};
    args.insert(args.end(), s.script.extraArguments.begin(), s.script.extraArguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    LPSERVICE_MAIN_FUNCTIONA proc = entry->lpServiceProc;
    std::thread service([&] {
        proc((DWORD)args.size(), argv.data());
        std::lock_guard<std::mutex> g(s.m);
        s.serviceDone = true;
        s.cv.notify_all();
    });
    while (s.script.concurrentControls && !s.serviceDone) {
        bool due = s.nextControl < s.script.controls.size() && s.script.controls[s.nextControl].first <= s.now;
        if (due && s.handler && !s.stoppedReported) {
            DWORD control = s.script.controls[s.nextControl++].second;
            Record(s, "(control)", std::to_string(control));
            LPHANDLER_FUNCTION handler = s.handler;
            lock.unlock();
            handler(control);
            lock.lock();
        } else {
            s.cv.wait_for(lock, std::chrono::microseconds(200));
        }
    }
    for (;;) {
        s.cv.wait(lock, [&] { return s.pendingControl >= 0 || s.serviceDone; });
        if (s.pendingControl >= 0) {
            DWORD control = (DWORD)s.pendingControl;
            s.pendingControl = -1;
            Record(s, "(control)", std::to_string(control));
            LPHANDLER_FUNCTION handler = s.handler;
            lock.unlock();
            handler(control);
            lock.lock();
            s.controlDone = true;
            s.cv.notify_all();
            continue;
        }
        break;
    }
    lock.unlock();
    service.join();
    lock.lock();
    // Windows returns from the dispatcher only once the service reported
    // stopped; without that report the real process would wait for ever.
    s.dispatcherReturned = s.stoppedReported;
    return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR name, LPHANDLER_FUNCTION handler)
{
    auto lock = Enter("RegisterServiceCtrlHandlerA", Text(name));
    State& s = S();
    if (s.script.failRegister)
        return (Fail(s.script.failRegister), nullptr);
    if (!name || s.script.serviceName != name)
        return (Fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr);
    s.handler = handler;
    s.statusHandle = (SERVICE_STATUS_HANDLE)NewHandle(s, {Kind::Service, "status"});
    return s.statusHandle;
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    // Not a delivery point: the host holds its status lock here. The record
    // is read before the simulation's own lock is taken, so that lock cannot
    // hide an unguarded write from the sanitizer.
    SERVICE_STATUS sent = *status;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.m);
    Record(s, "SetServiceStatus", std::to_string(sent.dwCurrentState));
    bool main = std::this_thread::get_id() == s.mainThread;
    bool first = s.reportCount++ == 0;
    if (!handle || handle != s.statusHandle) {
        s.reports.push_back({s.now, main, false, sent});
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (first && s.script.failFirstReport) {
        s.reports.push_back({s.now, main, false, sent});
        return Fail(s.script.failFirstReport);
    }
    s.reports.push_back({s.now, main, true, sent});
    if (sent.dwCurrentState == SERVICE_STOPPED && !s.stoppedReported) {
        s.stoppedReported = true;
        s.callsAtStopped = s.calls.size();
    }
    return TRUE;
}

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access)
{
    auto lock = Enter("OpenSCManagerA", Text(machine) + "," + Text(database) + "," + Hex(access));
    State& s = S();
    if (s.script.failOpenManager)
        return (Fail(s.script.failOpenManager), nullptr);
    s.openServiceHandles++;
    return (SC_HANDLE)NewHandle(s, {Kind::Manager, ""});
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access)
{
    auto lock = Enter("OpenServiceA", Text(name) + "," + Hex(access));
    State& s = S();
    Handle* m = Find(s, (HANDLE)manager);
    if (!m || m->kind != Kind::Manager)
        return (Fail(ERROR_INVALID_HANDLE), nullptr);
    if (s.script.failOpenService)
        return (Fail(s.script.failOpenService), nullptr);
    if (!name || s.script.serviceName != name)
        return (Fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr);
    s.openServiceHandles++;
    return (SC_HANDLE)NewHandle(s, {Kind::Service, name});
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    auto lock = Enter("QueryServiceStatus", "");
    State& s = S();
    Handle* h = Find(s, (HANDLE)service);
    if (!h || h->kind != Kind::Service)
        return Fail(ERROR_INVALID_HANDLE);
    if (s.script.failQuery)
        return Fail(s.script.failQuery);
    *status = {s.script.installedType, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle)
{
    auto lock = Enter("CloseServiceHandle", "");
    State& s = S();
    Handle* h = Find(s, (HANDLE)handle);
    if (!h || (h->kind != Kind::Manager && h->kind != Kind::Service))
        return Fail(ERROR_INVALID_HANDLE);
    s.handles.erase((uintptr_t)handle);
    s.openServiceHandles--;
    return TRUE;
}

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
    auto it = S().environment.find(name ? name : "");
    if (it == S().environment.end())
        return (Fail(203), 0);
    if (it->second.size() + 1 > size)
        return (DWORD)it->second.size() + 1;
    memcpy(buffer, it->second.c_str(), it->second.size() + 1);
    return (DWORD)it->second.size();
}

LPSTR WINAPI lstrcatA(LPSTR target, LPCSTR text)
{
    auto lock = Enter("lstrcatA", Text(target) + "," + Text(text));
    return strcat(target, text);
}

// The program a command line names first, as the platform would find it.
static bool ProgramExists(const std::string& commandLine)
{
    std::string program;
    if (!commandLine.empty() && commandLine[0] == '"') {
        size_t end = commandLine.find('"', 1);
        program = commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    } else {
        program = commandLine.substr(0, commandLine.find_first_of(" \t"));
    }
    struct stat st;
    for (const std::string& candidate : {program, program + ".exe", program + ".EXE"})
        if (stat(Native(candidate.c_str()).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return true;
    return false;
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
    else if (s.script.requireProgramFile && !ProgramExists(start.commandLine))
        ok = Fail(ERROR_FILE_NOT_FOUND);
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

// ---- events and directory ----------------------------------------------------

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer)
{
    auto lock = Enter("GetCurrentDirectoryA", std::to_string(size));
    State& s = S();
    if (s.script.failDirectory)
        return (Fail(s.script.failDirectory), 0);
    std::string text;
    if (s.script.scriptedDirectory) {
        text = s.script.directoryText;
    } else {
        std::error_code ec;
        text = fs::current_path(ec).string();
    }
    // Too small a buffer: the size needed, terminator included, and no text.
    if (text.size() + 1 > size)
        return (DWORD)text.size() + 1;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return (DWORD)text.size();
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path)
{
    auto lock = Enter("SetCurrentDirectoryA", Text(path));
    if (!path || chdir(Native(path).c_str()) != 0)
        return Fail(ERROR_PATH_NOT_FOUND);
    return TRUE;
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
    if (h->kind == Kind::Event)
        s.events[h->name].handles--;
    s.handles.erase((uintptr_t)handle);
    return TRUE;
}

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

// ---- the status record's lock ----------------------------------------------

// A fixed set of mutexes chosen by address: no shared guard, so the lock adds
// no ordering between the threads beyond its own.
static std::mutex& LockFor(SRWLOCK* lock)
{
    static std::mutex locks[16];
    return locks[((uintptr_t)lock / sizeof(void*)) % 16];
}

void WINAPI AcquireSRWLockExclusive(SRWLOCK* lock) { LockFor(lock).lock(); }
void WINAPI ReleaseSRWLockExclusive(SRWLOCK* lock) { LockFor(lock).unlock(); }
