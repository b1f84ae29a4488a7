// A deterministic Win32 for tests: virtual clock, scripted service manager,
// simulated workers, named events, real files, and a record of every call.
//
// Threads follow Windows: StartServiceCtrlDispatcherA runs ServiceMain on a
// thread of its own and delivers controls on the calling (main) thread. A
// control is delivered while ServiceMain's thread waits inside a platform
// call (a Sleep that spans its time, or any call once it is due; a report, for
// a control scripted at its call), so every run takes the same course.
#include "sim_state.h"

namespace simstate {

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
    std::string p = DrivePath(path ? path : "");
    for (char& c : p)
        if (c == '\\')
            c = '/';
    return ResolveName(p);
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

bool WaitDispatcherFree(State& s, std::unique_lock<std::mutex>& lock)
{
    // Far longer than any handler takes, far shorter than a test's patience.
    const auto limit = std::chrono::seconds(5);
    if (s.cv.wait_for(lock, limit, [&] { return s.pendingControl < 0 && !s.handlerRunning; }))
        return true;
    if (!s.dispatcherStalled)
        Record(s, "(dispatcher stalled)", "");
    s.dispatcherStalled = true;
    return false;
}

// Hands one control to the main thread and waits until the handler returned.
// Called on ServiceMain's thread with the lock held. Once a handler has
// stalled, later controls are dropped.
// What the service manager answers a control with before it reaches the
// handler, from the status the service last reported (start pending, with
// nothing accepted, before its first report): 0 when it is delivered.
// Every control is refused while the service is start or stop pending, and
// one it does not accept at any time. A shutdown reaches a service that
// accepts it whatever its state: it is the system's, not a ControlService.
// Evidence: MS docs ControlService (ERROR_SERVICE_CANNOT_ACCEPT_CTRL: "the
// state of the service is SERVICE_STOPPED, SERVICE_START_PENDING, or
// SERVICE_STOP_PENDING"; ERROR_INVALID_SERVICE_CONTROL: "not valid, or it is
// unacceptable to the service"; user controls 128-255; other codes undefined:
// ERROR_INVALID_PARAMETER) and SERVICE_STATUS (dwControlsAccepted; interrogate
// is always accepted).
// Wine's service manager lets a stop through while start pending (measured
// here: states 2, 3, 4, 3, 1); `controlsLikeWine` lets stop, shutdown and
// interrogate through in every state, the races the host must survive there.
DWORD ControlRefusal(const State& s, DWORD control)
{
    if (s.script.controlsLikeWine && (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN ||
                                      control == SERVICE_CONTROL_INTERROGATE))
        return 0;
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
    for (const sim::Report& r : s.reports)
        if (r.succeeded)
            status = r.status;
    DWORD accepted = status.dwControlsAccepted;
    if (control == SERVICE_CONTROL_SHUTDOWN)
        return accepted & SERVICE_ACCEPT_SHUTDOWN ? 0 : ERROR_INVALID_SERVICE_CONTROL;
    if (status.dwCurrentState == SERVICE_START_PENDING || status.dwCurrentState == SERVICE_STOP_PENDING)
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    DWORD needs = control == SERVICE_CONTROL_STOP ? SERVICE_ACCEPT_STOP
                  : control == 2 || control == 3  ? SERVICE_ACCEPT_PAUSE_CONTINUE
                  : control == 6                  ? SERVICE_ACCEPT_PARAMCHANGE
                  : control >= 7 && control <= 10 ? SERVICE_ACCEPT_NETBINDCHANGE
                                                  : 0;
    if (needs && !(accepted & needs))
        return ERROR_INVALID_SERVICE_CONTROL;
    if (!needs && control != SERVICE_CONTROL_INTERROGATE && (control < 128 || control > 255))
        return ERROR_INVALID_PARAMETER;
    return 0;
}

void Deliver(State& s, std::unique_lock<std::mutex>& lock, DWORD control)
{
    if (!s.handler || s.stoppedReported || s.dispatcherStalled) {
        Record(s, "(control dropped)", std::to_string(control));
        return;
    }
    if (DWORD refusal = ControlRefusal(s, control)) {
        Record(s, "(control refused)", std::to_string(control) + "," + std::to_string(refusal));
        return;
    }
    s.pendingControl = (int)control;
    s.cv.notify_all();
    WaitDispatcherFree(s, lock);
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

}  // namespace simstate

using namespace simstate;

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
    s.descriptors.clear();
    s.handles.clear();
    s.processes.clear();
    s.handler = nullptr;
    s.statusHandle = nullptr;
    s.nextControl = 0;
    s.serviceCalls = 0;
    s.atCallDelivered = false;
    s.pendingControl = -1;
    s.deletedServices.clear();
    s.handlerRunning = false;
    s.dispatcherStalled = false;
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
bool dispatcherStalled() { return S().dispatcherStalled; }
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
