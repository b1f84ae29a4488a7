// HOLVCHK's analysis on the simulated platform: one table of folder layouts.
// Each is checked, then the host itself is started on the same layout; both
// must name the same INI file and program, the check must say the worker
// starts exactly when the host starts it, and the check must change nothing.
#include "sim_fixture.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/service.h"
#include "support/log.h"
#include "tools/holvchk/check.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

class CheckTest : public HostTest {
protected:
    // The fixture's default folder again, with nothing else in it.
    void FreshFolder()
    {
        fs::current_path(dir);
        for (const auto& entry : fs::directory_iterator(dir))
            fs::remove_all(entry.path());
        WriteFile("HOLVSVC.EXE", "host");
        WriteFile("HOLV32IP.EXE", sim::ProgramImage("worker"));
        WriteFile("HOLV32.INI", "");
        sim::Reset();
        ResetHostRecords();
        sim::script().computerName = "SIMHOST";
    }

    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            std::string path = entry.path().string().substr(dir.size());
            files[path] = entry.is_directory() ? "(folder)" : ReadFile(path.substr(1));
        }
        return files;
    }
};

Lines SplitLines(const std::string& text)
{
    Lines lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

TEST_F(CheckTest, PredictsTheHostOnEachLayoutAndChangesNothing)
{
    const std::string deep = std::string(246 - dir.size(), 'd');  // the folder of 247 characters
    auto install = [&](const std::string& name, const std::string& path, DWORD type) {
        sim::script().installed[name].binaryPath = path;
        sim::script().installed[name].type = type;
    };
    auto self = [&] { install("QuenraService", dir + "/HOLVSVC.EXE", 0x10); };
    auto times = [&](uint64_t local, const std::string& target, uint64_t targetTime) {
        sim::SetCreationTime("HOLV32IP.EXE", local);
        if (!target.empty())
            sim::SetCreationTime(target, targetTime);
    };
    // Run\<name>, newer than HOLV32IP.EXE: a program with one byte changed.
    auto image = [&](const std::string& name, size_t at, char byte) {
        std::string bytes = sim::ProgramImage("w");
        bytes[at] = byte;
        fs::create_directory("Run");
        WriteFile("Run/" + name, bytes);
        WriteFile("HOLV32.INI", "-eRun\\" + name);
        times(200, "Run/" + name, 300);
    };
    struct Row {
        const char* what;
        std::function<void()> setUp;
        int status;
        std::string ini, program;
        Lines findings;  // "kind: fragment"; a leading ! for one that must not be there
        const char* subfolder = "";  // where the host runs, below the test folder
        bool checkHere = false;      // the test folder is named to the check: no host run
        bool noHost = false;         // the binary path names no file: the host never runs
    } rows[] = {
        {"default folder", self, 0, "HOLV32.INI", "HOLV32IP.EXE",
         {"note: INI candidate QuenraService.ini (service name): passed over, missing",
          "note: INI candidate SIMHOST.ini (computer name): passed over, missing", "note: no -e option",
          "note: the command line is 26 of at most 79", "note: shutdown event: HOLVSVCE_SHUTDOWN:",
          "note: nothing restarts the service", "note: HOLV32.LOG does not exist yet", "!warning:"}},
        {"service name before computer name",
         [&] { self(); WriteFile("QuenraService.ini", "-x"); WriteFile("SIMHOST.ini", "-eX.EXE"); }, 0,
         "QuenraService.ini", "HOLV32IP.EXE", {"note: INI candidate QuenraService.ini (service name): chosen"}},
        {"a folder named like the service's INI file",
         [&] { self(); fs::create_directory("QuenraService.ini"); WriteFile("SIMHOST.ini", ""); }, 0, "SIMHOST.ini",
         "HOLV32IP.EXE", {"note: INI candidate QuenraService.ini (service name): passed over, it is a directory"}},
        {"default INI file missing", [&] { self(); fs::remove("HOLV32.INI"); }, 0, "HOLV32.INI", "HOLV32IP.EXE",
         {"warning: the host will log \"Failed to open ini file HOLV32.INI\"", "start the worker (1 warning, "}},
        {"copy into a subfolder",
         [&] { self(); fs::create_directory("Run"); WriteFile("HOLV32.INI", "-eRun\\W.EXE"); times(200, "", 0); }, 0,
         "HOLV32.INI", "Run\\W.EXE", {"note: refresh: before the start the host copies HOLV32IP.EXE", "note: the start finds the program"}},
        {"copy into a missing folder", [&] { self(); WriteFile("HOLV32.INI", "-eNoSuch\\W.EXE"); }, 1, "HOLV32.INI",
         "NoSuch\\W.EXE", {"error: the copy to NoSuch\\W.EXE will fail: its folder does not exist, and the -e folder must "
                           "(error 3)"}},
        // The start's search as Windows makes it, each row against the host.
        // A name with a path: the exact name first, .exe only when nothing is
        // there (ReactOS RtlDosSearchPath_Ustr, source); a folder there is 5.
        {"the exact name first",
         [&] {
             self(); fs::create_directory("Run"); WriteFile("Run/W", sim::ProgramImage("w"));
             WriteFile("Run/W.exe", sim::ProgramImage("x")); WriteFile("HOLV32.INI", "-e" + dir + "/Run/W");
             times(200, "Run/W", 300);
         },
         0, "HOLV32.INI", dir + "/Run/W", {"note: the start finds the program as " + dir + "/Run/W\n", "!.exe"}},
        {"a folder named like the program",
         [&] {
             self(); fs::create_directories("Run/W"); WriteFile("Run/W.exe", sim::ProgramImage("x"));
             WriteFile("HOLV32.INI", "-e" + dir + "/Run/W"); times(200, "Run/W", 300);
         },
         1, "HOLV32.INI", dir + "/Run/W", {"error: " + dir + "/Run/W is a folder: the start fails with error 5"}},
        // A relative name with folders is searched like a bare one (MS docs
        // CreateProcess, the search order).
        {"a relative path with folders along the PATH",
         [&] {
             self(); fs::create_directories("bin/Run"); WriteFile("bin/Run/W.EXE", sim::ProgramImage("w"));
             WriteFile("HOLV32.INI", "-eRun\\W.EXE"); sim::script().systemPath = dir + "/bin";
         },
         0, "HOLV32.INI", "Run\\W.EXE",
         {"(error 3)", "note: the start finds the program as " + dir + "/bin\\Run\\W.EXE (along the system PATH"}},
        // Names match whatever their case, the last name without trailing
        // dots ("Naming Files, Paths, and Namespaces"); a search ending in a
        // separator finds nothing (Wine file.c test_FindFirstFileA).
        {"another case and a trailing dot",
         [&] {
             self(); fs::create_directory("Run"); WriteFile("Run/W.EXE", sim::ProgramImage("w"));
             WriteFile("HOLV32.INI", "-erun\\w.exe."); times(200, "Run/W.EXE", 300);
         },
         0, "HOLV32.INI", "run\\w.exe.", {"refresh: no copy; run\\w.exe. (created", "finds the program as " + dir + "/run\\w.exe."}},
        {"a target ending in a separator",
         [&] { self(); fs::create_directory("Run"); WriteFile("HOLV32.INI", "-eRun\\"); times(200, "", 0); }, 1,
         "HOLV32.INI", "Run\\", {"to Run\\, which does not exist yet", "the copy to Run\\ will fail: it is a folder (error 5)",
                                 "error: the start will not find Run\\.exe"}},
        // A hidden target is not overwritten (MS docs CopyFile): 5, the old one starts.
        {"a hidden target",
         [&] {
             self(); fs::create_directory("Run"); WriteFile("Run/W.EXE", sim::ProgramImage("old"));
             WriteFile("HOLV32.INI", "-eRun\\W.EXE"); times(200, "Run/W.EXE", 100);
             sim::script().hiddenFiles = {dir + "/Run/W.EXE"};
         },
         0, "HOLV32.INI", "Run\\W.EXE", {"warning: the copy to Run\\W.EXE will fail: it is hidden", "(error 5)"}},
        // What is not a program: a DLL 193, another machine's image 216, a
        // subsystem neither GUI nor console 129 (MS docs "System Error
        // Codes"); a batch file runs through cmd.exe /c (MS docs CreateProcess).
        {"a DLL", [&] { self(); image("W.EXE", 0x57, 0x21); }, 1, "HOLV32.INI", "Run\\W.EXE",
         {"(it is a DLL): the start fails with error 193"}},
        {"an ARM program", [&] { self(); image("W.EXE", 0x44, 0xC4); }, 1, "HOLV32.INI", "Run\\W.EXE",
         {"(it is built for another processor): the start fails with error 216"}},
        {"a native program", [&] { self(); image("W.EXE", 0x58 + 68, 1); }, 1, "HOLV32.INI", "Run\\W.EXE",
         {"(its subsystem is neither GUI nor console): the start fails with error 129"}},
        // An NTFS stream's name is valid (MS docs "File Streams"): the copy
        // writes it and makes the file (before: refused with 123).
        {"an NTFS stream as the -e target",
         [&] { self(); fs::create_directory("Run"); WriteFile("HOLV32.INI", "-eRun\\W:1.EXE"); times(200, "", 0); },
         0, "HOLV32.INI", "Run\\W:1.EXE",
         {"warning: the -e path Run\\W:1.EXE names the NTFS stream 1.EXE of the file Run\\W: the copy writes",
          "note: refresh: before the start the host copies HOLV32IP.EXE"}},
        {"a batch file", [&] { self(); image("W.CMD", 0, 'M'); }, 0, "HOLV32.INI", "Run\\W.CMD",
         {"warning: " + dir + "/Run\\W.CMD is a batch file: Windows runs it as cmd.exe /c"}},
        {"an administrator's own program at the -e place",
         [&] {
             self(); fs::create_directory("Run"); WriteFile("Run/W.EXE", sim::ProgramImage("mine"));
             WriteFile("HOLV32.INI", "-eRun\\W.EXE"); times(200, "Run/W.EXE", 100);
         },
         0, "HOLV32.INI", "Run\\W.EXE",
         {"warning: the start overwrites Run\\W.EXE, whose bytes differ", "note: on NTFS an overwritten file"}},
        // Another service runs the target: the copy fails with 32 and the old
        // program starts.
        {"a target in use",
         [&] {
             self(); fs::create_directory("Run"); WriteFile("Run/W.EXE", sim::ProgramImage("old"));
             WriteFile("HOLV32.INI", "-eRun\\W.EXE"); times(200, "Run/W.EXE", 100);
             sim::script().filesInUse = {dir + "/Run/W.EXE"};
         },
         0, "HOLV32.INI", "Run\\W.EXE",
         {"warning: the copy to Run\\W.EXE will fail: it is in use", "runs the old program (error 32)",
          "note: the start finds the program as " + dir + "/Run\\W.EXE", "!the start overwrites", "!on NTFS"}},
        {"a newer target is kept",
         [&] {
             self(); fs::create_directory("Run"); WriteFile("Run/W.EXE", sim::ProgramImage("mine"));
             WriteFile("HOLV32.INI", "-eRun\\W.EXE"); times(200, "Run/W.EXE", 300);
         },
         0, "HOLV32.INI", "Run\\W.EXE",
         {"note: refresh: no copy", "warning: Run\\W.EXE is not HOLV32IP.EXE (its bytes differ) and is kept for now"}},
        {"a newer target that is no program",
         [&] {
             self(); fs::create_directory("Run"); WriteFile("Run/W.EXE", "text");
             WriteFile("HOLV32.INI", "-eRun\\W.EXE"); times(200, "Run/W.EXE", 300);
         },
         1, "HOLV32.INI", "Run\\W.EXE", {"error: " + dir + "/Run\\W.EXE is not a program Windows loads (it does not begin with MZ)"}},
        {"-e without a local HOLV32IP.EXE",
         [&] {
             self(); fs::remove("HOLV32IP.EXE"); fs::create_directory("Run"); WriteFile("Run/W.EXE", sim::ProgramImage("w"));
             WriteFile("HOLV32.INI", "-eRun\\W.EXE");
         },
         1, "HOLV32.INI", "HOLV32IP.EXE",
         {"warning: -e names Run\\W.EXE, but there is no HOLV32IP.EXE", "error: the start will not find HOLV32IP.EXE"}},
        {"a worker found along PATH",
         [&] {
             self(); fs::remove("HOLV32IP.EXE"); fs::create_directory("bin"); WriteFile("bin/HOLV32IP.EXE", sim::ProgramImage("w"));
             // The system's PATH, longer than 8191 characters, and not the user's.
             sim::script().systemPath = std::string(9000, 'x') + ";%SystemRoot%;" + dir + "/bin";
             sim::script().path = dir;
         },
         0, "HOLV32.INI", "HOLV32IP.EXE",
         {"note: the start finds the program as " + dir + "/bin\\HOLV32IP.EXE (along the system PATH"}},
        {"a minus sign inside a word", [&] { self(); WriteFile("HOLV32.INI", "; the-end\r\n"); times(200, "", 0); }, 1,
         "HOLV32.INI", "nd",
         {"warning: the option -end comes from inside the word the-end", "error: the start will not find nd.exe"}},
        {"an -e from inside a comment word, cut at a blank",
         [&] { self(); WriteFile("HOLV32.INI", "; re-enable the -t option\r\n"); }, 1, "HOLV32.INI", "nable",
         {"warning: the option -enable comes from inside the word re-enable", "!needs quotes"}},
        {"options the host never uses",
         [&] {
             self();
             std::string text = "-E -eA.EXE -eB.EXE";
             for (int i = 0; i < 17; i++)
                 text += " -x";
             WriteFile("HOLV32.INI", text + " -late -later");
             times(200, "", 0);
         },
         0, "HOLV32.INI", "B.EXE",
         {"warning: -E is not the program option", "warning: 2 -e options: the last one counts, -eB.EXE; the host "
          "ignores -eA.EXE", "warning: options past the 20th are ignored: -late -later"}},
        {"past byte 255, and an unclosed quote",
         [&] {
             self();
             std::string text = "-eW.EXE -r\"unclosed";
             text.resize(280, ' ');
             WriteFile("HOLV32.INI", text + "-after");
             times(200, "", 0);
         },
         0, "HOLV32.INI", "W.EXE",
         {"warning: an unclosed quote at character 9 drops the rest of the text: -r\"unclosed",
          "warning: 31 bytes past byte 255 are never read; options there: -after"}},
        {"byte-order mark and an empty -e", [&] { self(); WriteFile("HOLV32.INI", "\xEF\xBB\xBF-e Run\\W2.EXE\r\n"); },
         0, "HOLV32.INI", "HOLV32IP.EXE",
         {"warning: HOLV32.INI begins with a UTF-8 byte-order mark", "warning: the -e option names no program",
          "!no -e option", "!inside the word"}},
        {"a path cut at a blank, an option far past byte 255, no extension",
         [&] {
             self();
             std::string comments;
             for (int i = 0; i < 30; i++)
                 comments += "; a comment line of the sample file\r\n";
             WriteFile("HOLV32.INI", "-eRun Dir\\W3.EXE -x\r\n" + comments + "-eRun\\W.EXE\r\n");
         },
         1, "HOLV32.INI", "Run",
         {"warning: the -e path ends at the blank after Run: the host takes Run as the program and never reads "
          "Dir\\W3.EXE; a path with blanks needs quotes: -e\"Run Dir\\W3.EXE\"",
          "bytes past byte 255 are never read; options there: -eRun\\W.EXE",
          "warning: -e names Run, but the start runs Run.exe", "error: the start will not find Run.exe"}},
        {"a quote over a line end", [&] { self(); WriteFile("HOLV32.INI", "-x -e\"\r\n\"\r\n"); }, 1, "HOLV32.INI",
         "<0A>",
         {"Command line: <0A> HOLV32.INI -c", "error: the copy to <0A> will fail: no file name may hold control",
          "(error 123)", "would not start the worker, error 2 (2 errors, 1 warning)"}},
        {"UTF-8 in the -e path", [&] { self(); WriteFile("HOLV32.INI", "-e\xC3\x9C\\W.EXE"); }, 1, "HOLV32.INI",
         "\xC3\x9C\\W.EXE", {"warning: the -e path holds UTF-8 sequences", "for <C3><9C>\\W.EXE"}},
        {"a command line over 79 characters",
         [&] { self(); WriteFile("HOLV32.INI", "-e" + std::string(62, 'w') + ".EXE"); times(200, "", 0); }, 1,
         "HOLV32.INI", std::string(62, 'w') + ".EXE",
         {"error: the command line would be 80 characters, over 79", "!note: the command line is"}},
        {"interactive, and a second service from the same folder",
         [&] { install("QuenraService", dir + "/HOLVSVC.EXE", 0x110); install("KORVIService", dir + "/HOLVSVC.EXE", 0x10); },
         0, "HOLV32.INI", "HOLV32IP.EXE",
         {"note: QuenraService is installed", "interactive: the worker gets no -c",
          "warning: KORVIService is installed from the same folder and shares HOLVSVCE_SHUTDOWN:"}},
        // Wine's service manager reports the old type after a change until its
        // session starts again; the host takes the reported one.
        {"a type change the service manager has not taken yet",
         [&] { install("QuenraService", dir + "/HOLVSVC.EXE", 0x110);
               sim::script().installed["QuenraService"].reportedType = 0x10; },
         0, "HOLV32.INI", "HOLV32IP.EXE",
         {"Command line: HOLV32IP.EXE HOLV32.INI -c", "warning: the service manager reports type 0x10 for "
          "QuenraService, though its configuration says 0x110: the host takes the reported type, so the worker gets -c"}},
        {"a binary path with a space and no quotes",
         [&] {
             fs::create_directory("My Svc");
             WriteFile("My Svc/HOLVSVC.EXE", "host"); WriteFile("My Svc/HOLV32IP.EXE", sim::ProgramImage("w"));
             install("QuenraService", dir + "/My Svc/HOLVSVC.EXE -x", 0x10);
             sim::script().applicationDirectory = dir + "/My Svc";
         },
         0, "HOLV32.INI", "HOLV32IP.EXE",
         {"error: the binary path holds a space and no quotes: Windows starts " + dir + "/My.exe in its place",
          "so it works in " + dir + "/:", "shutdown event: " + sim::EventNameFor(dir),
          "the start finds the program as " + dir + "/My Svc/HOLV32IP.EXE", "would start the worker (1 error, "}},
        // The service manager finds no host: its folder is not checked unless
        // named, and a named one does not make the start succeed.
        {"a binary path that names no file", [&] { install("QuenraService", dir + "/SVCHOLVSVC.EXE", 0x10); }, 1,
         "none", "none",
         {"error: the binary path names no file the service manager can start: it looks for " + dir +
          "/SVCHOLVSVC.EXE, but no such file; the start of QuenraService fails with error 2 before the host runs",
          "HOLVCHK: QuenraService: the service manager would not start the host, error 2 (1 error, 0 warnings)",
          "!INI candidate", "!HOLV32IP.EXE"}, "", false, true},
        // Unquoted, each prefix up to a blank is tried; none found, the
        // first one's error counts (MS docs CreateProcess; ReactOS, source).
        {"an unquoted binary path whose folder does not exist",
         [&] { install("QuenraService", dir + "/No Such/HOLVSVC.EXE", 0x10); }, 1, "none", "none",
         {"it looks for " + dir + "/No.exe, but no such file; the start of QuenraService fails with error 2"}, "",
         false, true},
        {"a binary path whose folder does not exist, the folder named",
         [&] { install("QuenraService", "\"" + dir + "/NoSuch/HOLVSVC.EXE\" -x", 0x10); }, 1, "HOLV32.INI",
         "HOLV32IP.EXE",
         {"but its folder does not exist; the start of QuenraService fails with error 3",
          "in " + dir + ": the service manager would not start the host, error 3", "note: the start finds the program"},
         "", true},
        // A named account's own Path follows the system's in the service's
        // environment; the checking user's never counts.
        {"a program on the Path of the service's own account",
         [&] {
             // The copy to UBIN\TOOL.EXE fails (no such folder here); the
             // start then searches the name along the Path.
             self(); WriteFile("HOLV32.INI", "-eUBIN\\TOOL.EXE\r\n");
             fs::create_directories("X/UBIN"); WriteFile("X/UBIN/TOOL.EXE", sim::ProgramImage("tool"));
             sim::script().access.accounts["SIMHOST\\bob"] = "S-1-5-21-7-7-7-1002";
             sim::script().installed["QuenraService"].startName = "SIMHOST\\bob";
             sim::script().userPaths["S-1-5-21-7-7-7-1002"] = dir + "/X";
         },
         0, "HOLV32.INI", "UBIN\\TOOL.EXE", {"the start finds the program as " + dir + "/X"}},
        {"not installed", [&] { sim::script().serviceName = "(none)"; }, 0, "HOLV32.INI", "HOLV32IP.EXE",
         {"note: QuenraService is not installed: assuming a service that is not interactive", "!recovery"}},
        {"a log that is a folder, and recovery set up",
         [&] {
             self(); fs::create_directory("HOLV32.LOG");
             sim::script().installed["QuenraService"].resetPeriod = 86400;
             sim::script().installed["QuenraService"].actions = {{SC_ACTION_RESTART, 60000}};
             sim::script().installed["QuenraService"].failureFlag = true;
         },
         0, "HOLV32.INI", "HOLV32IP.EXE",
         {"warning: HOLV32.LOG is a folder", "note: recovery actions: restart/60000; reset after 86400 s",
          "!nothing restarts"}},
        // Held by another process that shares nothing: the host's own open fails.
        {"a log held open without sharing",
         [&] {
             self(); WriteFile("HOLV32.LOG", "");
             CreateFileA("HOLV32.LOG", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
         },
         0, "HOLV32.INI", "HOLV32IP.EXE", {"warning: HOLV32.LOG cannot be opened for writing (in use"}},
        {"a folder of 247 characters",
         [&] {
             fs::create_directory(deep);
             WriteFile(deep + "/HOLVSVC.EXE", "host"); WriteFile(deep + "/HOLV32IP.EXE", sim::ProgramImage("w"));
             install("QuenraService", dir + "/" + deep + "/HOLVSVC.EXE", 0x10);
         },
         1, "HOLV32.INI", "HOLV32IP.EXE", {"error: the folder's path is 247 characters"}, deep.c_str()},
        {"another folder than the installed one",
         [&] {
             fs::create_directory("Other"); WriteFile("Other/HOLVSVC.EXE", "host");
             install("QuenraService", dir + "/Other/HOLVSVC.EXE", 0x10);
         },
         0,
         "HOLV32.INI", "HOLV32IP.EXE", {"note: the installed service runs from " + dir + "/Other, not from the folder"},
         "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FreshFolder();
        row.setUp();
        auto before = Snapshot();
        int status = CheckFolder("QuenraService", row.checkHere ? dir.c_str() : NULL);
        Lines report = SplitLines(CheckOutput);
        ASSERT_GE(report.size(), 4u) << CheckOutput;
        EXPECT_EQ(status, row.status) << CheckOutput;
        EXPECT_EQ(report[0], "INI file: " + row.ini);
        EXPECT_EQ(report[1], "Program: " + row.program);
        EXPECT_EQ(report[2].rfind("Command line: ", 0), 0u);
        EXPECT_EQ(report.back().rfind(row.noHost ? "HOLVCHK: QuenraService: " : "HOLVCHK: QuenraService in ", 0), 0u);
        for (size_t i = 3; i + 1 < report.size(); i++)
            EXPECT_TRUE(report[i].rfind("error: ", 0) == 0 || report[i].rfind("warning: ", 0) == 0 ||
                        report[i].rfind("note: ", 0) == 0) << report[i];
        for (const std::string& expected : row.findings) {
            bool absent = expected[0] == '!';
            std::string fragment = absent ? expected.substr(1) : expected;
            bool seen = CheckOutput != std::string() && std::string(CheckOutput).find(fragment) != std::string::npos;
            EXPECT_EQ(seen, !absent) << fragment << "\n" << CheckOutput;
        }
        // Nothing written, copied, started or signalled.
        EXPECT_EQ(Snapshot(), before);
        Lines calls = sim::callNames();
        for (const char* call : {"CopyFileA", "CreateProcessA", "CreateEventA", "OpenEventA", "SetEvent"})
            EXPECT_EQ(std::count(calls.begin(), calls.end(), call), 0) << call;
        EXPECT_TRUE(LogSink == nullptr);
        if (row.checkHere || row.noHost)
            continue;
        std::string predicted = CheckOutput;

        // The host on the same layout, started as the service manager would.
        std::string argv0 = dir + "/" + row.subfolder + (row.subfolder[0] ? "/" : "") + "HOLVSVC.EXE";
        sim::Reset();
        ResetHostRecords();
        row.setUp();
        sim::script().serviceName = "QuenraService";
        sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
        // Windows passes the binary path as the command line: argument 0 is
        // inside its quotes, or up to its first blank.
        if (sim::script().installed.count("QuenraService")) {
            const std::string& path = sim::script().installed["QuenraService"].binaryPath;
            argv0 = path[0] == '"' ? path.substr(1, path.find('"', 1) - 1) : path.substr(0, path.find(' '));
        }
        RunHostAs(argv0);
        std::string hostDir = fs::current_path().string();
        std::string log;
        if (fs::is_regular_file(hostDir + "/HOLV32.LOG")) {
            std::ifstream logFile(hostDir + "/HOLV32.LOG", std::ios::binary);
            log.assign(std::istreambuf_iterator<char>(logFile), std::istreambuf_iterator<char>());
        }
        // (A log that cannot be written has nothing to compare.) The log holds
        // the bytes the report shows as <XX>.
        std::string program = row.program;
        for (size_t at; (at = program.find("<0A>")) != std::string::npos;)
            program.replace(at, 4, "\n");
        EXPECT_TRUE(log.empty() || log.find("Service starting " + program + " using inifile " + row.ini) !=
                                       std::string::npos) << log;
        // The copy as predicted: made, or failed with the error given.
        std::smatch copyError;
        if (!log.empty() && predicted.find("refresh: before the start the host copies") != std::string::npos)
            EXPECT_NE(log.find(std::regex_search(predicted, copyError, std::regex("will fail: [^\n]*\\(error ([0-9]+)\\)"))
                                   ? "failed, reason=" + copyError[1].str()
                                   : "New EXE detected, copied"),
                      std::string::npos) << log;
        bool started = !sim::starts().empty() && sim::starts()[0].processId != 0;
        EXPECT_EQ(started, row.status == 0) << log;
        if (!started && Facts.startError && !log.empty())
            EXPECT_NE(log.find("error=" + std::to_string(Facts.startError)), std::string::npos) << log;
        if (started)
            EXPECT_EQ(report[2], "Command line: " + sim::starts()[0].commandLine);
    }
}

TEST_F(CheckTest, RefusesUnknownNamesAndMissingFolders)
{
    // Any name of an own-process service is the host's on Windows (the
    // dispatch table's names are ignored); a shared one needs a table name.
    struct Case {
        const char* name;
        const char* directory;
        DWORD installedType;  // 0: not installed
        int status;
        const char* says;
        const char* binary = "/HOLVSVC.EXE";  // after the test folder
        const char* inside = nullptr;         // the folder HOLVCHK is started in, there with the host
    } cases[] = {
        {"", NULL, 0, CheckUsage, "not a service name"},
        {"Pay/roll", NULL, 0, CheckUsage, "not a service name"},
        {"Pay\\roll", NULL, 0, CheckUsage, "not a service name"},
        {"QuenraService", "no/such/folder", 0, CheckUsage, "the folder no/such/folder does not exist"},
        {"QuenraService", "HOLV32.INI", 0, CheckUsage, "HOLVCHK: HOLV32.INI is not a folder (error 267)"},
        {"Payroll", NULL, 0x10, CheckStarts, "note: Payroll is not a name of the host's dispatch table: Windows"},
        {"Payroll", NULL, 0x20, CheckDoesNotStart, "the start fails with error 1083"},
        // A folder whose letters the code page cannot write: the host works in
        // its own file's folder, which has no name here (before: error 123).
        {"QuenraService", NULL, 0x10, CheckUsage, "has letters this code page cannot write", "/????/HOLVSVC.EXE"},
        // Named by another text (a short name): the event is the host's, of its own text.
        {"QuenraService", ".", 0x10, CheckStarts, "note: the host names its shutdown event after", "/????/HOLVSVC.EXE"},
        // Checked from inside it, as the usage says: its text opens nothing, so
        // HOLVCHK looks through "." (before: the worker "not found", error 2,
        // and the folder anyone may write went unaudited).
        {"QuenraService", ".", 0x10, CheckStartsExposed, "access: the service's folder .: Everyone",
         "/????/HOLVSVC.EXE", "????"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshFolder();
        WriteFile("Payroll.ini", "");
        if (c.installedType) {
            sim::script().installed[c.name].binaryPath = dir + c.binary;
            sim::script().installed[c.name].type = c.installedType;
        }
        if (c.inside) {
            fs::create_directories(c.inside);
            for (const char* file : {"HOLVSVC.EXE", "HOLV32IP.EXE"})
                fs::copy_file(file, std::string(c.inside) + "/" + file);
            WriteFile(std::string(c.inside) + "/HOLV32.INI", "-eHOLV32IP.EXE\r\n");
            sim::script().access.files[dir + "/" + c.inside] = "D:(A;OICI;0x1301bf;;;WD)";
            fs::current_path(c.inside);
        }
        EXPECT_EQ(CheckFolder(c.name, c.directory), c.status) << CheckOutput;
        EXPECT_NE(std::string(CheckOutput).find(c.says), std::string::npos) << CheckOutput;
        if (c.status == CheckStarts || c.inside)
            EXPECT_EQ(SplitLines(CheckOutput)[0], c.name[0] == 'P' ? "INI file: Payroll.ini" : "INI file: HOLV32.INI");
        fs::current_path(dir);
    }
}

// Folders whose texts hash alike share the event wherever they are: a seeded
// search finds such pairs, and HOLVCHK names the other service, installed
// under any name, with its folder and the event.
TEST_F(CheckTest, WarnsOfEveryServiceWhoseFolderGivesTheSameEventName)
{
    const unsigned seed = 20261210;
    std::mt19937 random(seed);
    std::map<std::string, std::vector<std::string>> byEvent;
    for (int i = 0; i < 4000; i++) {
        std::string word;
        for (int k = 0; k < 2 + (int)(random() % 7); k++)
            word += (char)('A' + random() % 26);
        std::string folder = word + (char)('0' + random() % 10) + "/" + word + (char)('0' + random() % 10);
        auto& same = byEvent[sim::EventNameFor(dir + "/" + folder)];
        if (std::find(same.begin(), same.end(), folder) == same.end())
            same.push_back(folder);
    }
    int pairs = 0;
    for (const auto& [event, folders] : byEvent) {
        if (folders.size() < 2 || pairs == 5)
            continue;
        pairs++;
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + folders[0] + " and " + folders[1]);
        FreshFolder();
        for (const std::string& folder : folders) {
            fs::create_directories(folder);
            WriteFile(folder + "/HOLVSVC.EXE", "host");
            WriteFile(folder + "/HOLV32IP.EXE", sim::ProgramImage("worker"));
        }
        sim::script().installed["QuenraService"].binaryPath = dir + "/" + folders[0] + "/HOLVSVC.EXE";
        sim::script().installed["Payroll Host"].binaryPath = "\"" + dir + "/" + folders[1] + "/HOLVSVC.EXE\" -x";
        sim::script().installed["Other"].binaryPath = dir + "/" + folders[1] + "/OTHER.EXE";
        CheckFolder("QuenraService", NULL);
        std::string expected = "warning: Payroll Host runs from " + dir + "/" + folders[1] +
                               ", whose event name is the same (" + event + "): a stop of either ends both workers";
        EXPECT_NE(std::string(CheckOutput).find(expected), std::string::npos) << CheckOutput;
        EXPECT_EQ(std::string(CheckOutput).find("Other"), std::string::npos) << CheckOutput;
    }
    EXPECT_GE(pairs, 2) << "seed " << seed;
}
