// Driving the simulated platform from tests: the script of one run (service
// manager, worker, files, machine) and everything the host did during it.
#pragma once

#include "platform_sim.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct WorkerScript {
    enum Kind { ExitAfterEvent, ExitAt, NeverExit };
    Kind kind = ExitAfterEvent;
    uint64_t ms = 500;      // ExitAfterEvent: delay after the event; ExitAt: virtual time
    DWORD exitCode = 0;
    uint64_t killAtMs = 0;  // killed from outside at this virtual time (0: never)
};

// A service as the service manager holds it, beside the one that runs.
struct InstalledService {
    std::string binaryPath;
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    // The type the status query reports when it is not `type`: Wine's
    // service manager keeps the old one after a change (0: `type`).
    DWORD reportedType = 0;
    DWORD resetPeriod = 0;
    std::vector<std::pair<SC_ACTION_TYPE, DWORD>> actions;  // recovery: type, delay in ms
    bool failureFlag = false;  // failure actions also for a stop with an error
    DWORD failRecoveryQuery = 0;
    // Everything else the service manager stores for it, as CreateServiceA,
    // ChangeServiceConfigA and ChangeServiceConfig2A set it.
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    std::string loadOrderGroup;
    DWORD tagId = 0;
    std::vector<std::string> dependencies;  // "+" before a group's name
    std::string startName = "LocalSystem";  // the account it runs as
    std::string password;                   // as last set; never queried
    std::string displayName;                // empty: the service's name
    std::string description;
    std::string rebootMessage, command;     // of the recovery actions
    bool delayedAutoStart = false;
    // Evidence: MS docs SERVICE_PRESHUTDOWN_INFO (10,000 ms from build 15063 on;
    // 180,000 before).
    DWORD preshutdownTimeout = 10000;
    std::vector<std::string> requiredPrivileges;
    DWORD sidType = SERVICE_SID_TYPE_NONE;
};

// Security descriptors (support/sim/security.cpp), written in SDDL:
// "O:BAD:PAI(A;OICI;FA;;;SY)", "D:NO_ACCESS_CONTROL" for a NULL DACL. A
// descriptor without P also takes its parent's inheritable ACEs, as on NTFS.
struct AccessScript {
    // The folders that play C:\ and Program Files, with Windows' default
    // descriptors; what lies below them inherits from them. Every other
    // folder without a descriptor of its own is locked.
    std::string driveRoot, programFiles;
    std::map<std::string, std::string> files;     // path -> descriptor
    std::map<std::string, std::string> services;  // name -> descriptor (default: the service manager's)
    std::map<std::string, std::string> keys;      // "MACHINE\\SYSTEM\\..." -> descriptor
    std::map<std::string, std::string> events;    // name -> descriptor, for a held event
    // Members of BUILTIN\Administrators, and who runs the process.
    std::vector<std::string> administrators{"S-1-5-21-7-7-7-500"};
    std::string user = "S-1-5-21-7-7-7-500";
    std::map<std::string, std::string> accounts;  // "DOMAIN\\name" -> SID, beside the well-known ones
};
// A folder's descriptor as Windows shows it, in SDDL: its own entries, set
// since the start or scripted, and what its parent passes on.
std::string FolderSddl(const std::string& path);
// A folder locked as the documents say, and TrustedInstaller's SID.
extern const char* const LockedFolder;
extern const char* const TrustedInstaller;

struct Script {
    bool underServiceManager = true;
    std::string serviceName = "QuenraService";
    std::vector<std::string> extraArguments;  // ServiceMain's argv after the name
    DWORD installedType = SERVICE_WIN32_OWN_PROCESS;
    // Further installed services, by name; an entry for serviceName also
    // gives the type its status query reports.
    std::map<std::string, InstalledService> installed;

    // Error codes injected into the service manager (0: the call works).
    // failFirstReport: ServiceMain's first report.
    DWORD failRegister = 0, failOpenManager = 0, failOpenService = 0, failQuery = 0, failFirstReport = 0;

    // Control codes delivered to the handler at virtual times. One due at 0 is
    // delivered at the first call after the handler's registration.
    std::vector<std::pair<uint64_t, DWORD>> controls;
    // Off: each control is handed over while ServiceMain waits in a platform
    // call, so runs repeat exactly. On: the main thread delivers controls as
    // soon as they are due while ServiceMain runs on, as on a real machine.
    bool concurrentControls = false;
    // Wine's service manager: a stop reaches a service that is start pending,
    // where Windows refuses every control with 1061; on, stop, shutdown and
    // interrogate are delivered in every state.
    bool controlsLikeWine = false;
    // One control handed over when ServiceMain's thread makes its call with
    // this index (0: its first platform call), or at the next call that can
    // take it; -1: none. At a report it arrives while the report is on its way.
    int controlAtCall = -1;
    DWORD controlAtCallCode = 0;

    // Processes: the program named first on the command line must exist as a
    // file (as given, or with ".exe"), unless requireProgramFile is off.
    bool requireProgramFile = true;
    DWORD failCreateProcess = 0;
    WorkerScript worker;
    int openProcessFailures = 0;
    DWORD openProcessError = ERROR_INVALID_PARAMETER;

    // Events
    DWORD failOpenEvent = 0;  // forces OpenEventA to fail even for an existing event
    DWORD failCreateEvent = 0;

    // The working directory as GetCurrentDirectoryA reports it.
    bool scriptedDirectory = false;
    std::string directoryText;
    DWORD failDirectory = 0;

    std::string computerName = "SIMHOST";
    // The system's ANSI code page: 1252, or 65001 ("Use Unicode UTF-8 for
    // worldwide language support").
    UINT ansiCodePage = 1252;
    // The calling program's own code page when it differs (65001: built
    // with the UTF-8 code page manifest); 0: the system's. The scripted
    // directory text is in the system's code page.
    UINT processCodePage = 0;
    // The running program's own file, as GetModuleFileNameW gives it (a path
    // of this machine); empty: the call fails with `failModuleName`.
    std::string moduleFileName;
    DWORD failModuleName = ERROR_MOD_NOT_FOUND;
    // Where a program named without a path is looked for after the working
    // directory (empty: not looked in), and the PATH variable's value.
    std::string systemDirectory, windowsDirectory, path;
    DWORD failComputerName = 0;

    std::map<std::string, DWORD> copyFailures;  // CopyFileA target as passed -> error
    // Programs another process runs, as paths of this machine: Windows writes
    // no running program's image, so a copy over one and an open of it for
    // writing fail with 32.
    std::vector<std::string> filesInUse;
    // Files with the hidden attribute, as paths of this machine.
    std::vector<std::string> hiddenFiles;
    // Another process writing files at the same moment: run once, inside the
    // next WriteFile, before that write's bytes land.
    std::function<void()> otherProcessWrites;
    // Wine's append: a write on an append-only handle asks the file's size,
    // then writes at that offset, so another writer can come in between.
    bool appendLikeWine = false;

    // Drives, the system PATH and the program's own folder: where a service
    // sees another machine than the user who checks its folder.
    struct Drive {
        std::string root;         // the folder of this machine that is the drive's root
        UINT type = DRIVE_FIXED;  // as GetDriveTypeA reports it
    };
    // By upper-case letter. A DRIVE_REMOTE drive is a user's mapped drive: a
    // process the service manager started does not see it. With no drives,
    // paths are this machine's own and no drive letter is refused.
    std::map<char, Drive> drives;
    // The Path value of HKLM\SYSTEM\CurrentControlSet\Control\Session
    // Manager\Environment (REG_EXPAND_SZ) as stored; empty: no such value. A
    // process the service manager started has it, expanded, as its PATH.
    std::string systemPath;
    // The key's other values (REG_EXPAND_SZ), by name: the system's
    // variables, which Path may name.
    std::map<std::string, std::string> systemVariables;
    // A user's own Path (HKEY_USERS\<SID>\Environment), by SID text: a
    // service under that account has it after the system's.
    std::map<std::string, std::string> userPaths;
    // The folder the running program was loaded from, the first place a
    // start searches (empty: the working directory).
    std::string applicationDirectory;

    uint64_t timeLimitMs = 3600 * 1000;  // past it no worker's exit code can be read

    AccessScript access;
};

struct Call {
    uint64_t ms;
    bool mainThread;
    std::string name;
    std::string args;
};

struct Report {
    uint64_t ms;
    bool mainThread;
    bool succeeded;
    SERVICE_STATUS status;
    // A report of the other thread with another state landed while this one,
    // copied before it, was on its way.
    bool overtaken;
};

struct ProcessStart {
    uint64_t ms;
    bool nullApplication;
    std::string commandLine;
    bool nullProcessAttributes, nullThreadAttributes;
    BOOL inheritHandles;
    DWORD flags;
    bool ownEnvironment;           // environment pointer was null
    std::map<std::string, std::string> environment;
    bool ownDirectory;             // directory pointer was null
    std::string directory;         // the working directory it was started in
    std::string eventName;         // the name the worker derives from that directory
    STARTUPINFOA startup;
    DWORD processId;
    std::string image;             // the program file the start loaded; "" when it failed
};

struct Event {
    bool signaled = false;
    uint64_t firstSetMs = 0;
    int setCount = 0;
    int handles = 0;
};

// Fresh platform: default script, clock at 0, no records, no events.
void Reset();
Script& script();

uint64_t now();
const std::vector<Call>& calls();
std::vector<std::string> callNames();  // names only, in order
const std::vector<Report>& reports();
const std::vector<ProcessStart>& starts();
const std::map<std::string, Event>& events();
std::string environment(const std::string& name);  // "" when unset

// Another process holds an event of this name.
void HoldEvent(const std::string& name, bool signaled);

// Creation time that the file search reports for a path (as FILETIME ticks).
void SetCreationTime(const std::string& path, uint64_t ticks);

// What happened around the dispatcher.
bool dispatcherReturned();
bool controlAtCallDelivered();
int serviceMainCalls();                           // platform calls made on ServiceMain's thread
bool stoppedReported();
// A handler had not returned while ServiceMain waited for the dispatcher's
// thread (a control it was handed, or its stopped report): on Windows a stall.
bool dispatcherStalled();
bool timeLimitHit();
int openServiceHandles();
std::vector<std::string> callsAfterStopped();  // host calls made after the stopped report
DWORD workerExitTime(DWORD processId);          // virtual ms, or 0 while running

// The name a worker derives from a directory text (an independent oracle).
std::string EventNameFor(const std::string& directoryText);

// A small program file that Windows would load: valid PE headers and one
// section, `tag` after them so that two images can differ.
std::string ProgramImage(const std::string& tag = "");

}  // namespace sim
