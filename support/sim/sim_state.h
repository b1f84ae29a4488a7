// The simulated platform's shared state and helpers, for its section files:
// service manager, processes, events and directory, files and machine.
#pragma once

#include "../platform_sim.h"
#include "../sim_control.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fnmatch.h>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace simstate {


enum class Kind { Event, Process, Thread, Search, Manager, Service, File };

struct Handle {
    Kind kind;
    std::string name;  // event name, or search results
    DWORD pid = 0;  // for a file: its descriptor
    DWORD access = 0, share = 0;  // for a file: as opened
    uint64_t lockAt = 0, lockLength = 0;  // for a file: its byte-range lock, if any
    bool link = false;  // a folder's handle on the junction or link itself
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
    // Descriptors set since the start (SetSecurityInfo, CreateDirectoryW), in
    // SDDL, by the folder's real path; they take the place of the script's.
    std::map<std::string, std::string> descriptors;
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
    // Services marked for deletion while running, by lower-case name.
    std::set<std::string> deletedServices;
    int pendingControl = -1;
    bool handlerRunning = false;
    bool dispatcherStalled = false;
    bool serviceDone = false;
    bool dispatcherReturned = false;
    bool stoppedReported = false;
    size_t callsAtStopped = 0;
    bool timeLimitHit = false;
    int reportCount = 0;
    int openServiceHandles = 0;
    int openProcessFailuresLeft = 0;
};

State& S();
extern thread_local DWORD LastError;

std::string Hex(uint64_t v);
std::string Text(const char* s);
// Caller holds the lock.
void Record(State& s, const char* name, const std::string& args);
HANDLE NewHandle(State& s, Handle h);
Handle* Find(State& s, HANDLE h);
// A Windows path as a path of this machine: backslashes become slashes.
std::string Native(const char* path);
std::string Absolute(const std::string& native);
uint64_t EventExitTime(State& s, const Process& p);
DWORD ExitCodeAt(State& s, const Process& p);
// The service manager's answer to a control before delivery: 0, or its error.
DWORD ControlRefusal(const State& s, DWORD control);
// Delivers the controls due by virtual time `until` (ServiceMain's thread only).
void DeliverDue(State& s, std::unique_lock<std::mutex>& lock, uint64_t until);
// The control scripted for one of ServiceMain's calls, once its index is reached.
void DeliverAtCall(State& s, std::unique_lock<std::mutex>& lock);
// Waits until the dispatcher's thread could take a message: no control waits
// for it and no handler runs. A handler still busy after a while of real time
// marks the run as stalled; false then.
bool WaitDispatcherFree(State& s, std::unique_lock<std::mutex>& lock);
// The common opening of a host-side call: deliver what is due, then record.
std::unique_lock<std::mutex> Enter(const char* name, const std::string& args);
BOOL Fail(DWORD error);

// Drives and names, as Windows' file functions take them (files.cpp).
// A path with a drive letter as a path of this machine (backslashes kept);
// one on a drive the caller does not see comes back unchanged.
std::string DrivePath(const std::string& path);
// A path of this machine as Windows' file system finds it (files.cpp): the
// last name without trailing dots and blanks, each name matched regardless
// of case when no entry has it exactly.
std::string ResolveName(const std::string& native);
// The Windows text of a path of this machine, on its drive when one holds it.
std::string WindowsPath(const std::string& native);
// 0 when Windows takes `path` as a name, else the error it refuses it with:
// 123 for characters no name may hold (`pattern`: * and ? allowed in the
// last name), 3 for a drive the caller does not see.
DWORD NameError(const char* path, bool pattern);
// The PATH a process the service manager starts gets (registry.cpp).
std::string ServicePath(const State& s);
// %NAME% references replaced by the calling process's variables
// (`processVariables`) or by the system's alone.
std::string Expand(const State& s, const std::string& text, bool processVariables);
// A text of the system's code page as the calling program's A functions
// give it, and as UTF-16 (code_pages.cpp).
std::string InProcessCodePage(const std::string& systemText);
std::wstring Wide(const std::string& systemText);
// A wide name as this machine's UTF-8 path (events.cpp).
std::string Narrow(LPCWSTR text);
// The calling process's own PATH (processes.cpp).
std::string ProcessPath(const State& s);

}  // namespace simstate
