// The service's life on the simulated platform: status reports, the worker's
// start and stop, the log, and every failure on the way.
#include "sim_fixture.h"

#include "service/service.h"
#include "support/log.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

using Lines = std::vector<std::string>;
using States = std::vector<DWORD>;

namespace {

struct Seen {
    uint64_t ms;
    DWORD state;
    bool mainThread;
};

std::vector<Seen> Timeline()
{
    std::vector<Seen> seen;
    for (const sim::Report& r : sim::reports())
        seen.push_back({r.ms, r.status.dwCurrentState, r.mainThread});
    return seen;
}

bool operator==(const Seen& a, const Seen& b)
{
    return a.ms == b.ms && a.state == b.state && a.mainThread == b.mainThread;
}

std::ostream& operator<<(std::ostream& os, const Seen& s)
{
    return os << "{" << s.ms << "ms " << s.state << (s.mainThread ? " main" : "") << "}";
}

int Count(const std::vector<std::string>& names, const std::string& name)
{
    return (int)std::count(names.begin(), names.end(), name);
}

// Handles closed other than the log's, which is closed after each record.
int ClosesBesidesTheLog()
{
    int n = 0;
    for (const sim::Call& c : sim::calls())
        n += c.name == "CloseHandle" && c.args != "\"HOLV32.LOG\"";
    return n;
}

// The default situation, which the fixture lays out: HOLV32.INI and the
// worker beside the host.
class ServiceTest : public HostTest {};

}  // namespace

TEST_F(ServiceTest, NormalStartAndStopReportsEachStateAtItsTime)
{
    sim::script().controls = {{5000, SERVICE_CONTROL_STOP}};
    EXPECT_EQ(RunHost(), 0);

    EXPECT_EQ(Timeline(), (std::vector<Seen>{{0, 2, false},
                                             {100, 4, false},
                                             {1100, 4, false},
                                             {2100, 4, false},
                                             {3100, 4, false},
                                             {4100, 4, false},
                                             {5000, 3, true},
                                             {5100, 3, false},
                                             {6100, 1, false}}));
    for (const sim::Report& r : sim::reports()) {
        EXPECT_TRUE(r.succeeded);
        EXPECT_EQ(r.status.dwServiceType, 0x10u);
        EXPECT_EQ(r.status.dwControlsAccepted, 5u);
        EXPECT_EQ(r.status.dwWin32ExitCode, 0u);
        EXPECT_EQ(r.status.dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(r.status.dwCheckPoint, 0u);
        EXPECT_EQ(r.status.dwWaitHint, 120000u);
    }
    EXPECT_EQ(LogMessages(), (Lines{"Starting service QuenraService",
                                    "Service starting HOLV32IP.EXE using inifile HOLV32.INI",
                                    "Service stop request received", "Service stopped"}));

    ASSERT_EQ(sim::starts().size(), 1u);
    const sim::ProcessStart& start = sim::starts()[0];
    EXPECT_EQ(start.commandLine, "HOLV32IP.EXE HOLV32.INI -c");
    EXPECT_TRUE(start.nullApplication);
    EXPECT_TRUE(start.nullProcessAttributes && start.nullThreadAttributes);
    EXPECT_FALSE(start.inheritHandles);
    EXPECT_EQ(start.flags, 0u);
    EXPECT_TRUE(start.ownEnvironment && start.ownDirectory);
    EXPECT_EQ(start.environment.at("HOLVService"), "QuenraService");
    EXPECT_EQ(start.directory, dir);
    EXPECT_EQ(start.startup.cb, sizeof(STARTUPINFOA));
    EXPECT_STREQ(start.startup.lpDesktop, "WinSta0\\Default");

    // The event the worker derives from its directory is the one signalled, once.
    ASSERT_EQ(sim::events().count(start.eventName), 1u);
    const sim::Event& event = sim::events().at(start.eventName);
    EXPECT_EQ(event.setCount, 1);
    EXPECT_EQ(event.firstSetMs, 5100u);
    EXPECT_EQ(event.handles, 0) << "the host closes its event handle";
    EXPECT_EQ(sim::workerExitTime(start.processId), 5600u);
    EXPECT_EQ(sim::openServiceHandles(), 0);
    EXPECT_TRUE(sim::dispatcherReturned());
}

TEST_F(ServiceTest, ProcessEntryMovesToTheExecutablesDirectoryAndServesSixNames)
{
    std::filesystem::create_directory("elsewhere");
    std::filesystem::current_path("elsewhere");
    sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
    RunHost();
    EXPECT_EQ(std::filesystem::current_path().string(), dir);
    EXPECT_EQ(sim::calls().front().name, "SetCurrentDirectoryA");
    EXPECT_EQ(sim::calls().front().args, "\"" + dir + "/\"");
    EXPECT_EQ(sim::calls()[1].args,
              "QuenraClient,QuenraService,KORVIService,KORVIClient,PlunwickService,PlunwickClient");
    EXPECT_FALSE(LogBytes().empty());
}

TEST_F(ServiceTest, EveryTableNameRunsTheSameService)
{
    // On Windows an own-process service runs under any name it is installed
    // as (the table's names are ignored); a shared one only under a table name.
    struct Case {
        const char* name;
        DWORD type;
        bool runs;
    } cases[] = {
        {"QuenraClient", 0x10, true}, {"QuenraService", 0x10, true}, {"KORVIService", 0x10, true},
        {"KORVIClient", 0x10, true},  {"PlunwickService", 0x10, true}, {"PlunwickClient", 0x10, true},
        {"Payroll", 0x10, true},      {"Payroll", 0x20, false},      {"KORVIClient", 0x20, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.type));
        StartOver();
        sim::script().serviceName = c.name;
        sim::script().installedType = c.type;
        WriteFile(std::string(c.name) + ".ini", "-t9\r\n");
        sim::script().controls = {{1000, SERVICE_CONTROL_SHUTDOWN}};
        RunHost();
        if (!c.runs) {
            EXPECT_EQ(LogMessages(), Lines{"Failed to start Service Control Dispatcher, reason=1060"});
            continue;
        }
        EXPECT_EQ(LogMessages().front(), std::string("Starting service ") + c.name);
        EXPECT_EQ(sim::environment("HOLVService"), c.name);
        ASSERT_EQ(sim::starts().size(), 1u);
        EXPECT_EQ(sim::starts()[0].commandLine, std::string("HOLV32IP.EXE ") + c.name + ".ini -c");
        EXPECT_EQ(ReportedStates().back(), (DWORD)SERVICE_STOPPED);
    }
}

TEST_F(ServiceTest, CommandLineFollowsTheInstalledType)
{
    struct Case {
        DWORD installed;
        DWORD reportedType;
        const char* commandLine;
    } cases[] = {
        {0x10, 0x10, "HOLV32IP.EXE HOLV32.INI -c"},
        {0x110, 0x110, "HOLV32IP.EXE HOLV32.INI"},
        // Only the interactive bit is taken from the installed type.
        {0x120, 0x110, "HOLV32IP.EXE HOLV32.INI"},
        {0x20, 0x10, "HOLV32IP.EXE HOLV32.INI -c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.installed);
        StartOver();
        sim::script().installedType = c.installed;
        sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
        RunHost();
        ASSERT_EQ(sim::starts().size(), 1u);
        EXPECT_EQ(sim::starts()[0].commandLine, c.commandLine);
        for (const sim::Report& r : sim::reports())
            EXPECT_EQ(r.status.dwServiceType, c.reportedType);
    }
}

TEST_F(ServiceTest, BuildCommandLineQuotesBlanksAndRefusesWhatDoesNotFit)
{
    std::string p66(66, 'p');  // 66 + " HOLV32.INI" = 77; with " -c", 80
    struct Case {
        std::string program;
        std::string ini;
        bool interactive;
        bool fits;
        std::string expected;
    } cases[] = {
        {"HOLV32IP.EXE", "HOLV32.INI", false, true, "HOLV32IP.EXE HOLV32.INI -c"},
        {"C:\\Program Files\\W.EXE", "A.ini", false, true, "\"C:\\Program Files\\W.EXE\" A.ini -c"},
        {"C:\\Tab\there\\W.EXE", "A.ini", true, true, "\"C:\\Tab\there\\W.EXE\" A.ini"},
        {"", "HOLV32.INI", true, true, " HOLV32.INI"},
        {p66, "HOLV32.INI", true, true, p66 + " HOLV32.INI"},
        {p66, "HOLV32.INI", false, false, ""},
        {std::string(68, 'p'), "HOLV32.INI", true, true, std::string(68, 'p') + " HOLV32.INI"},
        {std::string(69, 'p'), "HOLV32.INI", true, false, ""},
        {std::string(64, ' '), "HOLV32.INI", true, true, "\"" + std::string(64, ' ') + "\" HOLV32.INI"},
        {std::string(67, ' '), "HOLV32.INI", true, false, ""},
        {std::string(253, 'x'), std::string(63, 'i'), false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        char out[CommandLineSize];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(BuildCommandLine(out, c.program.c_str(), c.ini.c_str(), c.interactive) < CommandLineSize, c.fits);
        EXPECT_EQ(std::string(out), c.expected);
    }
}

TEST_F(ServiceTest, StopDuringTheStartStillStartsTheWorkerThenStopsIt)
{
    // Windows refuses a control while the service is start or stop pending,
    // and one it does not accept; Wine delivers a stop while start pending,
    // and the state then stays stop pending: it never goes back.
    struct Case {
        bool wine;
        std::vector<std::pair<uint64_t, DWORD>> controls;
        States states;
        std::vector<uint64_t> times;
        Lines refused;  // "code,error"
    } cases[] = {
        // Before the first report: answered with state 3, and 3 it stays.
        {true, {{0, SERVICE_CONTROL_STOP}}, {3, 3, 3, 3, 1}, {0, 0, 100, 1100, 2100}, {}},
        // While the worker's handle is being opened.
        {true, {{50, SERVICE_CONTROL_STOP}}, {2, 3, 3, 3, 1}, {0, 50, 100, 1100, 2100}, {}},
        {false, {{0, SERVICE_CONTROL_STOP}, {50, SERVICE_CONTROL_STOP}, {60, 128}, {1500, SERVICE_CONTROL_STOP}},
         {2, 4, 4, 3, 3, 1}, {0, 100, 1100, 1500, 2100, 3100}, {"1,1061", "1,1061", "128,1061"}},
        // Running: pause, an undefined code, then a stop and one while it is pending.
        {false, {{500, 2}, {600, 20}, {700, 6}, {1500, SERVICE_CONTROL_STOP}, {1600, SERVICE_CONTROL_STOP}},
         {2, 4, 4, 3, 3, 1}, {0, 100, 1100, 1500, 2100, 3100}, {"2,1052", "20,87", "6,1052", "1,1061"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.states));
        StartOver();
        sim::script().controlsLikeWine = c.wine;
        sim::script().controls = c.controls;
        RunHost();
        EXPECT_EQ(ReportedStates(), c.states);
        std::vector<uint64_t> times;
        for (const sim::Report& r : sim::reports())
            times.push_back(r.ms);
        EXPECT_EQ(times, c.times);
        EXPECT_EQ(sim::starts().size(), 1u);
        EXPECT_EQ(sim::events().begin()->second.setCount, 1);
        Lines refused;
        for (const sim::Call& call : sim::calls())
            if (call.name == "(control refused)")
                refused.push_back(call.args);
        EXPECT_EQ(refused, c.refused);
    }
}

TEST_F(ServiceTest, StopBeforeTheFirstReportIsAnsweredFromTheRecordAsItStood)
{
    sim::script().controlsLikeWine = true;
    sim::script().controls = {{0, SERVICE_CONTROL_INTERROGATE}, {0, SERVICE_CONTROL_STOP}};
    RunHost();
    ASSERT_GE(sim::reports().size(), 3u);
    // Interrogate before the first report: state 0, only stop accepted.
    EXPECT_EQ(sim::reports()[0].status.dwCurrentState, 0u);
    EXPECT_EQ(sim::reports()[0].status.dwControlsAccepted, 1u);
    EXPECT_TRUE(sim::reports()[0].mainThread);
    EXPECT_EQ(sim::reports()[1].status.dwCurrentState, 3u);
    // ServiceMain's start pending does not take the state back.
    EXPECT_EQ(sim::reports()[2].status.dwCurrentState, 3u);
    EXPECT_EQ(ReportedStates().back(), (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(sim::events().begin()->second.setCount, 1);
}

TEST_F(ServiceTest, WorkerThatEndsByItselfStopsTheServiceWithItsFailure)
{
    struct Case {
        DWORD exitCode;
        uint64_t stopAt;  // 0: no stop
        DWORD win32, specific;
    } cases[] = {
        {0, 0, 0, 0},
        // A failure of its own reaches the service manager, whose recovery
        // actions may then start the service again.
        {1, 0, ERROR_SERVICE_SPECIFIC_ERROR, 1},
        {3, 0, ERROR_SERVICE_SPECIFIC_ERROR, 3},
        {255, 0, ERROR_SERVICE_SPECIFIC_ERROR, 255},
        {0xC0000005, 0, ERROR_SERVICE_SPECIFIC_ERROR, 0xC0000005},
        // A stop was asked for: whatever the worker ends with is no failure.
        {3, 1500, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitCode);
        StartOver();
        if (c.stopAt) {
            sim::script().worker = {sim::WorkerScript::ExitAfterEvent, 500, c.exitCode};
            sim::script().controls = {{c.stopAt, SERVICE_CONTROL_STOP}};
        } else {
            sim::script().worker = {sim::WorkerScript::ExitAt, 2500, c.exitCode};
        }
        RunHost();
        const SERVICE_STATUS& last = sim::reports().back().status;
        EXPECT_EQ(last.dwCurrentState, (DWORD)SERVICE_STOPPED);
        EXPECT_EQ(last.dwWin32ExitCode, c.win32);
        EXPECT_EQ(last.dwServiceSpecificExitCode, c.specific);
        for (size_t i = 0; i + 1 < sim::reports().size(); i++)
            EXPECT_EQ(sim::reports()[i].status.dwWin32ExitCode | sim::reports()[i].status.dwServiceSpecificExitCode, 0u);
        if (c.stopAt)
            continue;
        EXPECT_EQ(Timeline(), (std::vector<Seen>{{0, 2, false}, {100, 4, false}, {1100, 4, false},
                                                 {2100, 4, false}, {3100, 1, false}}));
        EXPECT_EQ(LogMessages(), (Lines{"Starting service QuenraService",
                                        "Service starting HOLV32IP.EXE using inifile HOLV32.INI",
                                        "Service exited", "Service stopped"}));
        EXPECT_EQ(Count(sim::callNames(), "SetEvent"), 0);
        EXPECT_EQ(sim::starts().size(), 1u) << "never restarted";
    }
}

// A control delivered at each platform call ServiceMain makes (for a report,
// while it is on its way), for each way a start can end, early failures
// included (there also between the stopped state and its report): the run
// always ends with one stopped report and nothing after it, no report is
// overtaken by an older one, both exit codes tell the ending, and a started
// worker is left unsignalled and running only when its handle never came.
TEST_F(ServiceTest, AControlAtAnyCallNeverOvertakesTheStoppedReport)
{
    struct Ending {
        const char* what;
        std::function<void()> setUp;
        std::string failure;  // logged when the start failed, which the exit codes then carry
        DWORD win32, specific;
        bool alwaysFails;     // no stop spares the failure
        bool leavesWorker;
    } endings[] = {
        {"worker ends after the event", [] { sim::script().controls = {{2500, SERVICE_CONTROL_STOP}}; }, "", 0, 0,
         false, false},
        {"worker ends by itself", [] { sim::script().worker = {sim::WorkerScript::ExitAt, 2500, 3}; },
         "Service exited", ERROR_SERVICE_SPECIFIC_ERROR, 3, false, false},
        {"worker never starts", [] { std::filesystem::remove("HOLV32IP.EXE"); }, "HOLV32IP.EXE not started! error=2",
         ERROR_FILE_NOT_FOUND, 0, true, false},
        {"no process handle after 30 attempts", [] { sim::script().openProcessFailures = 30; },
         "Could not get process handle to service, error=87", ERROR_INVALID_PARAMETER, 0, false, true},
        {"status query fails", [] { sim::script().failQuery = ERROR_ACCESS_DENIED; }, "GetServiceStatus failed error=5",
         ERROR_ACCESS_DENIED, 0, true, false},
        {"first report fails", [] { sim::script().failFirstReport = ERROR_INVALID_HANDLE; },
         "SetServiceStatus failed error=6", ERROR_INVALID_HANDLE, 0, true, false},
    };
    int runs = 0, delivered = 0;
    for (const Ending& e : endings) {
        auto setUp = [&] {
            StartOver();
            WriteFile("HOLV32IP.EXE", sim::ProgramImage("worker"));
            sim::script().timeLimitMs = 60000;
            e.setUp();
        };
        setUp();
        RunHost();
        const int calls = sim::serviceMainCalls();
        // ServiceMain's call just before its last report, the stopped one: the
        // stopped state is set by then.
        int index = 0, beforeStopped = -1;
        for (const sim::Call& call : sim::calls()) {
            if (call.mainThread)
                continue;
            if (call.name == "SetServiceStatus")
                beforeStopped = index - 1;
            index++;
        }
        for (DWORD control : {(DWORD)SERVICE_CONTROL_STOP, (DWORD)SERVICE_CONTROL_SHUTDOWN,
                              (DWORD)SERVICE_CONTROL_INTERROGATE, 128u}) {
            for (int at = 0; at <= calls; at++) {
                SCOPED_TRACE(std::string(e.what) + ", control " + std::to_string(control) + " at call " +
                             std::to_string(at));
                setUp();
                sim::script().controlAtCall = at;
                sim::script().controlAtCallCode = control;
                RunHost();
                runs++;
                delivered += sim::controlAtCallDelivered();
                if (at == beforeStopped)
                    EXPECT_TRUE(sim::controlAtCallDelivered());
                States states = ReportedStates();
                ASSERT_FALSE(states.empty());
                EXPECT_EQ(states.back(), (DWORD)SERVICE_STOPPED);
                EXPECT_EQ(std::count(states.begin(), states.end(), (DWORD)SERVICE_STOPPED), 1);
                for (const sim::Report& r : sim::reports())
                    EXPECT_FALSE(r.overtaken);
                EXPECT_TRUE(sim::callsAfterStopped().empty());
                EXPECT_TRUE(sim::dispatcherReturned());
                EXPECT_FALSE(sim::timeLimitHit());
                Lines log = LogMessages();
                EXPECT_EQ(log.back(), "Service stopped");
                auto logged = [&](const std::string& m) { return std::find(log.begin(), log.end(), m) != log.end(); };
                if (logged("Service stop request received"))
                    EXPECT_GT(std::count(states.begin(), states.end(), (DWORD)SERVICE_STOP_PENDING), 0);
                for (const sim::ProcessStart& start : sim::starts()) {
                    if (!start.processId)
                        continue;
                    bool signaled = sim::events().count(start.eventName) && sim::events().at(start.eventName).signaled;
                    bool running = sim::workerExitTime(start.processId) == 0;
                    EXPECT_EQ(!signaled && running, e.leavesWorker);
                }
                // The failure is passed on exactly when it was logged, that is when no stop came first.
                bool failed = !e.failure.empty() && logged(e.failure);
                if (e.alwaysFails)
                    EXPECT_TRUE(failed);
                EXPECT_EQ(sim::reports().back().status.dwWin32ExitCode, failed ? e.win32 : 0u);
                EXPECT_EQ(sim::reports().back().status.dwServiceSpecificExitCode, failed ? e.specific : 0u);
            }
        }
    }
    EXPECT_GT(runs, 600);
    EXPECT_GT(delivered, runs * 9 / 10);
}

// A control that arrives while ServiceMain is inside a report. The stopped
// report of a process's last service waits for the dispatcher's thread, so
// the handler must never wait for a report; and a change of the handler's
// must not be overtaken by the older copy on its way.
TEST_F(ServiceTest, AControlInsideAReportIsAnsweredWithoutWaitingForIt)
{
    struct Case {
        const char* what;
        int report;  // ServiceMain's report it arrives in; -1: the last
        DWORD control;
        bool workerEndsByItself;  // at 2500 ms, else 500 ms after the event
        std::vector<Seen> timeline;
    } cases[] = {
        // The worker ended by itself as the stop came: stopped stands alone.
        {"stop in the stopped report", -1, SERVICE_CONTROL_STOP, true,
         {{0, 2, false}, {100, 4, false}, {1100, 4, false}, {2100, 4, false}, {3100, 1, false}}},
        {"shutdown in the first report", 0, SERVICE_CONTROL_SHUTDOWN, false,
         {{0, 2, false}, {0, 3, false}, {100, 3, false}, {1100, 3, false}, {2100, 1, false}}},
        // The running copy lands first, then ServiceMain sends the stop pending.
        {"stop in a running report", 2, SERVICE_CONTROL_STOP, false,
         {{0, 2, false}, {100, 4, false}, {1100, 4, false}, {1100, 3, false}, {2100, 3, false}, {3100, 1, false}}},
        {"interrogate in a running report", 2, SERVICE_CONTROL_INTERROGATE, true,
         {{0, 2, false}, {100, 4, false}, {1100, 4, true}, {1100, 4, false}, {2100, 4, false}, {3100, 1, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto setUp = [&] {
            StartOver();
            sim::script().controlsLikeWine = true;  // a race Wine's delivery allows
            if (c.workerEndsByItself)
                sim::script().worker = {sim::WorkerScript::ExitAt, 2500, 0};
        };
        setUp();
        RunHost();
        std::vector<int> reportCalls;
        int index = 0;
        for (const sim::Call& call : sim::calls()) {
            if (call.mainThread)
                continue;
            if (call.name == "SetServiceStatus")
                reportCalls.push_back(index);
            index++;
        }
        ASSERT_GT(reportCalls.size(), 2u);
        setUp();
        sim::script().controlAtCall = c.report < 0 ? reportCalls.back() : reportCalls[c.report];
        sim::script().controlAtCallCode = c.control;
        RunHost();
        EXPECT_TRUE(sim::controlAtCallDelivered());
        EXPECT_FALSE(sim::dispatcherStalled());
        EXPECT_TRUE(sim::dispatcherReturned());
        EXPECT_EQ(Timeline(), c.timeline);
        for (const sim::Report& r : sim::reports())
            EXPECT_FALSE(r.overtaken);
        EXPECT_TRUE(sim::callsAfterStopped().empty());
        EXPECT_EQ(LogMessages().back(), "Service stopped");
    }
}

TEST_F(ServiceTest, ExitCode259CannotBeToldFromARunningWorker)
{
    sim::script().worker = {sim::WorkerScript::ExitAt, 1500, STILL_ACTIVE};
    sim::script().controls = {{10000, SERVICE_CONTROL_STOP}};
    sim::script().timeLimitMs = 20000;
    RunHost();
    States states = ReportedStates();
    EXPECT_EQ(std::count(states.begin(), states.end(), 4), 10);  // 100 ms, then 1.1 s to 9.1 s
    // The handler, ServiceMain, then a wait each second until the time limit.
    EXPECT_EQ(std::count(states.begin(), states.end(), 3), 2 + 9);
    EXPECT_TRUE(sim::timeLimitHit());
    EXPECT_EQ(states.back(), (DWORD)SERVICE_STOPPED);
}

TEST_F(ServiceTest, WorkerThatNeverEndsKeepsStopPendingOnceASecond)
{
    sim::script().worker.kind = sim::WorkerScript::NeverExit;
    sim::script().worker.killAtMs = 1000 + 600000 + 50;  // killed from outside after ten minutes
    sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
    RunHost();
    std::vector<Seen> seen = Timeline();
    // start pending, running, stop pending from the handler and from ServiceMain...
    ASSERT_GE(seen.size(), 5u);
    EXPECT_EQ(seen[2], (Seen{1000, 3, true}));
    EXPECT_EQ(seen[3], (Seen{1100, 3, false}));
    // ...then once a second until the worker is gone.
    size_t waits = 0;
    for (size_t i = 4; i + 1 < seen.size(); i++, waits++) {
        EXPECT_EQ(seen[i].state, 3u);
        EXPECT_EQ(seen[i].ms, 1100 + 1000 * (i - 3));
    }
    EXPECT_EQ(waits, 599u);
    EXPECT_EQ(seen.back(), (Seen{601100, 1, false}));
    EXPECT_FALSE(sim::timeLimitHit());
}

TEST_F(ServiceTest, WorkerThatCannotStartGoesFromStartPendingToStopped)
{
    struct Case {
        const char* what;
        DWORD injected;
        bool removeWorker;
        DWORD error;
    } cases[] = {
        {"missing program", 0, true, ERROR_FILE_NOT_FOUND},
        {"refused", ERROR_ACCESS_DENIED, false, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartOver();
        if (c.removeWorker)
            std::filesystem::remove("HOLV32IP.EXE");
        sim::script().failCreateProcess = c.injected;
        RunHost();
        EXPECT_EQ(ReportedStates(), (States{2, 1}));
        EXPECT_EQ(sim::reports().back().status.dwWin32ExitCode, c.error) << "not reported as a success";
        EXPECT_EQ(LogMessages(), (Lines{"Starting service QuenraService",
                                        "Service starting HOLV32IP.EXE using inifile HOLV32.INI",
                                        "HOLV32IP.EXE not started! error=" + std::to_string(c.error),
                                        "Service stopped"}));
        EXPECT_EQ(Count(sim::callNames(), "OpenProcess"), 0);
        EXPECT_EQ(Count(sim::callNames(), "SetEvent"), 0);
        EXPECT_EQ(ClosesBesidesTheLog(), 1) << "the event is still closed";
        EXPECT_TRUE(sim::dispatcherReturned());
        WriteFile("HOLV32IP.EXE", sim::ProgramImage("worker"));
    }
}

TEST_F(ServiceTest, WorkerHandleAttempts)
{
    struct Case {
        int failures;
        uint64_t stopAt;  // 0: no stop
        States states;
        Lines tail;
        DWORD exitCode;
    } cases[] = {
        // The 30th attempt still counts.
        {29, 3050, {2, 4, 3, 3, 1}, {"Service stop request received", "Service stopped"}, 0},
        {30, 0, {2, 1}, {"Could not get process handle to service, error=87", "Service stopped"}, 87},
        // A stop that came meanwhile (as Wine delivers it; Windows refuses a
        // stop while start pending): no complaint, and the worker is left running.
        {30, 1500, {2, 3, 1}, {"Service stop request received", "Service stopped"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failures);
        StartOver();
        sim::script().openProcessFailures = c.failures;
        sim::script().controlsLikeWine = true;
        if (c.stopAt)
            sim::script().controls = {{c.stopAt, SERVICE_CONTROL_STOP}};
        RunHost();
        EXPECT_EQ(ReportedStates(), c.states);
        Lines log = LogMessages();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(Lines(log.end() - 2, log.end()), c.tail);
        EXPECT_EQ(sim::reports().back().status.dwWin32ExitCode, c.exitCode);
        EXPECT_EQ(Count(sim::callNames(), "OpenProcess"), std::min(c.failures + 1, 30));
        if (c.failures == 30) {
            EXPECT_EQ(Count(sim::callNames(), "SetEvent"), 0);
            // 30 pauses before the attempts and one after the last.
            EXPECT_EQ(sim::reports().back().ms, 3100u);
        }
    }
}

TEST_F(ServiceTest, EarlyFailuresLogTheirErrorAndStillReportStopped)
{
    struct Case {
        const char* what;
        DWORD sim::Script::*field;
        DWORD error;
        std::string message;
        bool reportsStopped;
    } cases[] = {
        {"registration", &sim::Script::failRegister, 0x42A, "Service start failed error=42A", false},
        {"manager", &sim::Script::failOpenManager, ERROR_ACCESS_DENIED, "GetServiceStatus failed error=5", true},
        {"service", &sim::Script::failOpenService, 1060, "GetServiceStatus failed error=1060", true},
        {"query", &sim::Script::failQuery, ERROR_INVALID_HANDLE, "GetServiceStatus failed error=6", true},
        {"first report", &sim::Script::failFirstReport, 87, "SetServiceStatus failed error=87", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartOver();
        sim::script().*c.field = c.error;
        RunHost();
        EXPECT_EQ(LogMessages(), (Lines{"Starting service QuenraService", c.message, "Service stopped"}));
        EXPECT_EQ(sim::starts().size(), 0u);
        EXPECT_EQ(sim::openServiceHandles(), 0);
        EXPECT_EQ(sim::stoppedReported(), c.reportsStopped);
        EXPECT_EQ(sim::dispatcherReturned(), c.reportsStopped);
        if (c.reportsStopped) {
            EXPECT_EQ(sim::reports().back().status.dwCurrentState, (DWORD)SERVICE_STOPPED);
            EXPECT_EQ(sim::reports().back().status.dwWin32ExitCode, c.error);
            EXPECT_TRUE(sim::callsAfterStopped().empty());
        }
    }
}

TEST_F(ServiceTest, OtherControlsAreAnsweredWithTheRecordUnchanged)
{
    sim::script().controls = {{1500, SERVICE_CONTROL_INTERROGATE},
                              {1600, 128},
                              {1700, 200},
                              {2500, SERVICE_CONTROL_STOP},
                              {2600, SERVICE_CONTROL_INTERROGATE}};
    RunHost();
    EXPECT_EQ(Timeline(), (std::vector<Seen>{{0, 2, false},
                                             {100, 4, false},
                                             {1100, 4, false},
                                             {1500, 4, true},
                                             {1600, 4, true},
                                             {1700, 4, true},
                                             {2100, 4, false},
                                             {2500, 3, true},
                                             // the interrogate at 2600 is refused: stop pending
                                             {3100, 3, false},
                                             {4100, 1, false}}));
    EXPECT_EQ(LogMessages(),
              (Lines{"Starting service QuenraService", "Service starting HOLV32IP.EXE using inifile HOLV32.INI",
                     "Service request 128 received", "Service request 200 received",
                     "Service stop request received", "Service stopped"}));
}

TEST_F(ServiceTest, StoppedIsTheLastThingTheServiceDoes)
{
    sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
    RunHost();
    std::vector<std::string> names = sim::callNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "SetServiceStatus");
    EXPECT_TRUE(sim::callsAfterStopped().empty());
    EXPECT_EQ(LogMessages().back(), "Service stopped");
}

TEST_F(ServiceTest, OutsideAServiceManagerTheDispatcherFailureIsLogged)
{
    sim::script().underServiceManager = false;
    EXPECT_NE(RunHost(), 0);
    EXPECT_EQ(LogMessages(), (Lines{"Failed to start Service Control Dispatcher, reason=1063"}));
    EXPECT_TRUE(sim::reports().empty());
}

TEST_F(ServiceTest, MissingShutdownEventIsNoErrorButTheWorkerHearsNothing)
{
    sim::script().failCreateEvent = ERROR_ACCESS_DENIED;
    sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
    sim::script().worker.killAtMs = 8000;
    RunHost();
    EXPECT_EQ(Count(sim::callNames(), "SetEvent"), 0);
    EXPECT_EQ(ClosesBesidesTheLog(), 0);
    EXPECT_EQ(sim::reports().back().ms, 8100u);
    EXPECT_EQ(ReportedStates().back(), (DWORD)SERVICE_STOPPED);
}

TEST_F(ServiceTest, AnEventHeldByAnotherProcessIsSharedInItsState)
{
    std::string name = sim::EventNameFor(dir);
    sim::HoldEvent(name, true);  // left signalled by an earlier run
    RunHost();
    // The worker sees the old signal at once and ends; nothing was stopped.
    EXPECT_EQ(Count(sim::callNames(), "CreateEventA"), 0);
    EXPECT_EQ(LogMessages()[2], "Service exited");
    EXPECT_EQ(sim::events().at(name).handles, 1);
}

TEST_F(ServiceTest, UnwritableLogCostsTheMessagesOnly)
{
    namespace fs = std::filesystem;
    const std::string earlier = "\r\n01/01 00:00:00 Earlier record";
    struct Case {
        const char* what;
        std::function<HANDLE()> make;  // returns a handle that holds the log, if any
        std::function<void()> release;
    } cases[] = {
        // A directory in the log's place cannot be opened as a file.
        {"a folder", [] { fs::create_directory("HOLV32.LOG"); return INVALID_HANDLE_VALUE; },
         [] { fs::remove("HOLV32.LOG"); }},
        {"read-only",
         [&] {
             WriteFile("HOLV32.LOG", earlier);
             fs::permissions("HOLV32.LOG", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
             return INVALID_HANDLE_VALUE;
         },
         [] { fs::permissions("HOLV32.LOG", fs::perms::owner_write, fs::perm_options::add); }},
        // Held open by another process that shares nothing.
        {"locked",
         [&] {
             WriteFile("HOLV32.LOG", earlier);
             return CreateFileA("HOLV32.LOG", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
         },
         [] {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartOver();
        HANDLE held = c.make();
        sim::script().controls = {{2000, SERVICE_CONTROL_STOP}};
        RunHost();
        EXPECT_EQ(ReportedStates(), (States{2, 4, 4, 3, 3, 1}));
        if (fs::is_directory("HOLV32.LOG"))
            EXPECT_TRUE(fs::is_empty("HOLV32.LOG"));
        else
            EXPECT_EQ(LogBytes(), earlier);
        // Once it can be written again, the next record lands.
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        c.release();
        LogMessage("Writable again");
        EXPECT_EQ(LogMessages().back(), "Writable again");
    }
}

TEST_F(ServiceTest, ExecutableDirectoryKeepsDriveAndDirectory)
{
    struct Case {
        const char* argv0;
        const char* expected;
    } cases[] = {
        {"C:\\DIR\\PROG.EXE", "C:\\DIR\\"},
        {"C:\\PROG.EXE", "C:\\"},
        {"C:PROG.EXE", "C:"},
        {"PROG.EXE", ""},
        {"", ""},
        {"\\\\server\\share\\svc\\HOLVSVC.EXE", "\\\\server\\share\\svc\\"},
        {"D:/mixed\\dirs/X.EXE", "D:/mixed\\dirs/"},
        {"C:\\Program Files\\Holv\\HOLVSVC.EXE", "C:\\Program Files\\Holv\\"},
    };
    for (const Case& c : cases) {
        char out[MAX_PATH];
        ExecutableDirectory(c.argv0, out, sizeof out);
        EXPECT_STREQ(out, c.expected) << c.argv0;
    }
    // A directory too long for the buffer is left alone, not cut to another one.
    std::string deep = "C:\\" + std::string(300, 'd') + "\\X.EXE";
    char out[MAX_PATH];
    ExecutableDirectory(deep.c_str(), out, sizeof out);
    EXPECT_STREQ(out, "");
}

// Argument 0 comes in the ANSI code page: a folder name it cannot write
// arrives with '?' and cannot be entered. The host then works in its own
// file's folder, or, failing that, ends the start with the error, touching
// nothing: never in the folder the process began in.
TEST_F(ServiceTest, AFolderArgumentZeroCannotNameIsFoundThroughTheProgramsOwnFile)
{
    struct Case {
        std::string argv0, module;
        DWORD exitCode;
        size_t starts;
    } cases[] = {
        {dir + "/HOLVSVC.EXE", "", 0, 1},                    // entered: no other call
        {dir + "/N??????/HOLVSVC.EXE", dir + "/HOLVSVC.EXE", 0, 1},
        {dir + "/N??????/HOLVSVC.EXE", "", ERROR_MOD_NOT_FOUND, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv0 + " " + c.module);
        StartOver();
        std::filesystem::create_directory("elsewhere");
        std::filesystem::current_path(dir + "/elsewhere");
        sim::script().moduleFileName = c.module;
        sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
        RunHostAs(c.argv0);
        EXPECT_EQ(sim::starts().size(), c.starts);
        EXPECT_EQ(sim::reports().back().status.dwWin32ExitCode, c.exitCode);
        EXPECT_EQ(Count(sim::callNames(), "GetModuleFileNameW"), c.argv0.find('?') != std::string::npos ? 1 : 0);
        EXPECT_FALSE(std::filesystem::exists(dir + "/elsewhere/HOLV32.LOG"));
        EXPECT_EQ(LogMessages().empty(), c.exitCode != 0);
        HostFolderError = 0;
    }
}

TEST_F(ServiceTest, ArgumentZeroWithoutADirectoryLeavesTheWorkingDirectory)
{
    sim::script().underServiceManager = false;
    RunHostAs("HOLVSVC.EXE");
    EXPECT_EQ(Count(sim::callNames(), "SetCurrentDirectoryA"), 0);
    EXPECT_EQ(LogMessages(), (Lines{"Failed to start Service Control Dispatcher, reason=1063"}));
}

TEST_F(ServiceTest, ProgramPathFromTheIniFileGoesIntoTheCommandLineWhole)
{
    std::filesystem::create_directories("Program Files/Holv");
    WriteFile("Program Files/Holv/W.EXE", sim::ProgramImage("worker"));
    struct Case {
        std::string ini;
        std::string commandLine;  // empty: refused as too long
        std::string program;
    } cases[] = {
        {"-e\"Program Files\\Holv\\W.EXE\"", "\"Program Files\\Holv\\W.EXE\" HOLV32.INI -c",
         "Program Files\\Holv\\W.EXE"},
        // 66 characters: with " HOLV32.INI -c" one too many for the 79 the line holds.
        {"-e" + std::string(62, 'w') + ".EXE", "", std::string(62, 'w') + ".EXE"},
        {"-e" + std::string(61, 'w') + ".EXE", std::string(61, 'w') + ".EXE HOLV32.INI -c",
         std::string(61, 'w') + ".EXE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        StartOver();
        sim::script().requireProgramFile = false;
        sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
        WriteFile("HOLV32.INI", c.ini);
        // The target is newer than the local copy, so it is run as it is.
        std::string target = c.program;
        std::replace(target.begin(), target.end(), '\\', '/');
        WriteFile(target, sim::ProgramImage("worker"));
        sim::SetCreationTime("HOLV32IP.EXE", 100);
        sim::SetCreationTime(target, 200);
        RunHost();
        Lines log = LogMessages();
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log[1], "Service starting " + c.program + " using inifile HOLV32.INI");
        if (c.commandLine.empty()) {
            EXPECT_EQ(sim::starts().size(), 0u) << "nothing is started with a cut line";
            EXPECT_EQ(log[2], c.program + " not started! error=206");
            EXPECT_EQ(ReportedStates(), (States{2, 1}));
            EXPECT_EQ(sim::reports().back().status.dwWin32ExitCode, 206u);
        } else {
            ASSERT_EQ(sim::starts().size(), 1u);
            EXPECT_EQ(sim::starts()[0].commandLine, c.commandLine);
        }
    }
}

TEST_F(ServiceTest, BurstOfControlsWhileServiceMainReportsIsEachAnswered)
{
    // Controls reach the handler on the main thread while ServiceMain runs
    // and reports on its own: the status record is shared for real.
    sim::script().concurrentControls = true;
    const int interrogates = 200, userControls = 100;
    for (int i = 0; i < interrogates + userControls; i++) {
        DWORD code = i % 3 == 2 ? (DWORD)(128 + i / 3) : (DWORD)SERVICE_CONTROL_INTERROGATE;
        sim::script().controls.push_back({150 + 12 * (uint64_t)i, code});
    }
    sim::script().controls.push_back({4500, SERVICE_CONTROL_STOP});
    RunHost();

    // The stop's own report may come from ServiceMain, when the stop came
    // while a report of ServiceMain's was on its way.
    int runningFromHandler = 0;
    for (const sim::Report& r : sim::reports()) {
        runningFromHandler += r.mainThread && r.status.dwCurrentState == SERVICE_RUNNING;
        EXPECT_EQ(r.status.dwWaitHint, 120000u);
        EXPECT_EQ(r.status.dwControlsAccepted, 5u);
    }
    EXPECT_EQ(runningFromHandler, interrogates + userControls) << "one report per control";
    Lines log = LogMessages();
    for (int n = 0; n < userControls; n++)
        EXPECT_EQ(std::count(log.begin(), log.end(), "Service request " + std::to_string(128 + n) + " received"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Service stop request received"), 1);
    EXPECT_EQ(log.back(), "Service stopped");
    EXPECT_EQ(sim::reports().back().status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(sim::events().begin()->second.setCount, 1);
}

TEST_F(ServiceTest, HandlerAndServiceMainChangeAndReportTheRecordWhole)
{
    // Both threads change and report the record at full speed; every report
    // must carry a state one of them set, never a torn record.
    const int rounds = 2000;
    SetServiceState(SERVICE_START_PENDING);
    std::thread serviceMain([] {
        for (int i = 0; i < rounds; i++) {
            SetServiceState(i % 2 ? SERVICE_RUNNING : SERVICE_START_PENDING);
            ReportStatus();
        }
    });
    for (int i = 0; i < rounds; i++)
        ServiceCtrlHandler(i % 2 ? SERVICE_CONTROL_STOP : SERVICE_CONTROL_INTERROGATE);
    serviceMain.join();
    // A stop that comes while ServiceMain's report is on its way is sent by
    // ServiceMain after that report: the handler then sends fewer, ServiceMain more.
    int fromHandler = 0;
    for (const sim::Report& r : sim::reports())
        fromHandler += r.mainThread;
    int fromServiceMain = (int)sim::reports().size() - fromHandler;
    EXPECT_LE(fromHandler, rounds);
    EXPECT_GE(fromServiceMain, rounds);
    EXPECT_EQ(fromHandler < rounds, fromServiceMain > rounds);
    for (const sim::Report& r : sim::reports()) {
        EXPECT_GE(r.status.dwCurrentState, (DWORD)SERVICE_START_PENDING);
        EXPECT_LE(r.status.dwCurrentState, (DWORD)SERVICE_RUNNING);
        EXPECT_EQ(r.status.dwWaitHint, 120000u);
    }
    EXPECT_EQ(StopRequested.load(), 1u);

    // Several fields at once: ServiceMain sets stopped with two equal codes,
    // then start pending (both codes 0), while the handler reports. A report
    // taken while a change is half made shows unequal codes or a state that
    // does not go with them.
    StartOver();
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (DWORD i = 1; i <= (DWORD)rounds; i++) {
            SetStopped(i, i);
            ReportStatus();
            SetStartPending(SERVICE_WIN32_OWN_PROCESS);
        }
        done = true;
    });
    while (!done)
        ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    changer.join();
    for (const sim::Report& r : sim::reports()) {
        EXPECT_EQ(r.status.dwWin32ExitCode, r.status.dwServiceSpecificExitCode);
        EXPECT_EQ(r.status.dwCurrentState == SERVICE_STOPPED, r.status.dwWin32ExitCode != 0);
    }
}

TEST_F(ServiceTest, StopsRacingTheFinishOnTwoThreadsNeverOvertakeIt)
{
    // The finishing window with controls arriving on the main thread at the
    // same moment, as at a system shutdown when the worker has just ended.
    for (int round = 0; round < 200; round++) {
        SCOPED_TRACE(round);
        StartOver();
        SetStartPending(SERVICE_WIN32_OWN_PROCESS);
        SetServiceState(SERVICE_RUNNING);
        std::atomic<bool> go{false}, finished{false};
        std::thread serviceMain([&] {
            while (!go) {
            }
            FinishService(NULL, 0, 0);
            finished = true;
        });
        go = true;
        // Mostly interrogates, which log nothing, so a slow start of the other
        // thread does not grow the log without end.
        for (int i = 0; (!finished && i < 2000) || i < 4; i++)
            ServiceCtrlHandler(i % 8 == 0   ? (DWORD)SERVICE_CONTROL_STOP
                               : i % 8 == 4 ? (DWORD)SERVICE_CONTROL_SHUTDOWN
                                            : (DWORD)SERVICE_CONTROL_INTERROGATE);
        serviceMain.join();
        States states = ReportedStates();
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), (DWORD)SERVICE_STOPPED);
        EXPECT_EQ(std::count(states.begin(), states.end(), (DWORD)SERVICE_STOPPED), 1);
        EXPECT_EQ(LogMessages().back(), "Service stopped");
    }
}
