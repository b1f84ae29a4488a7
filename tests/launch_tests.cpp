// Launch preparation on the simulated platform: INI choice, option reader,
// worker program refresh, and one start through the whole host.
#include "sim_fixture.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"

#include <filesystem>

namespace fs = std::filesystem;
using namespace std::string_literals;

using Lines = std::vector<std::string>;

namespace {

const char* const Unset = "(unset)";

std::string Shown(const char* path) { return path ? path : Unset; }

// Platform calls of one kind, as "name(args)".
Lines CallsNamed(std::initializer_list<const char*> names)
{
    Lines out;
    for (const sim::Call& c : sim::calls())
        for (const char* n : names)
            if (c.name == n)
                out.push_back(c.name + "(" + c.args + ")");
    return out;
}

void SetTime(const std::string& path, uint64_t ticks) { sim::SetCreationTime(path, ticks); }

}  // namespace

// Each case of a table starts over with StartOver().
class LaunchTest : public HostTest {};

// ---- the option reader -------------------------------------------------------

TEST_F(LaunchTest, ReaderCutsTokensAndTakesTheLastLowercaseE)
{
    std::string x19, x20;
    for (int i = 0; i < 19; i++)
        x19 += "-x ";
    x20 = x19 + "-x ";
    auto xs = [](int n) { return Lines(n, "-x"); };
    auto plus = [](Lines a, const Lines& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };

    // 255 bytes of file: the path is cut where the read ends...
    std::string cutOutside(250, 'x');
    cutOutside += " -eABCDEFG";
    // ...but a token with an open quote there is lost, and an earlier -e wins.
    std::string cutInQuotes = "-eOLD";
    cutInQuotes.resize(249, ' ');
    cutInQuotes += "-e\"ABCDEF\"";
    // The cut counts file bytes, before CR LF becomes LF.
    std::string crlfFill;
    for (int i = 0; i < 127; i++)
        crlfFill += "\r\n";
    std::string lfFill(127, '\n');

    struct Row {
        const char* what;
        std::string bytes;
        Lines tokens;
        const char* path;
    } rows[] = {
        {"empty file", "", {}, Unset},
        {"text before and between options", "[Main]\nname=value -eC:\\W.EXE words -x\n", {"-eC:\\W.EXE", "-x"},
         "C:\\W.EXE"},
        {"minus inside a word", "the-end", {"-end"}, "nd"},
        {"capital E", "-EC:\\W.EXE", {"-EC:\\W.EXE"}, Unset},
        {"two -e, the later wins", "-eA.EXE -x -eB.EXE", {"-eA.EXE", "-x", "-eB.EXE"}, "B.EXE"},
        {"empty -e", "-eA.EXE -e", {"-eA.EXE", "-e"}, ""},
        {"-e as 20th token", x19 + "-eLATE.EXE", plus(xs(19), {"-eLATE.EXE"}), "LATE.EXE"},
        {"-e as 21st token", x20 + "-eLATE.EXE", xs(20), Unset},
        {"zero byte is a token", "-x \0 -eB"s, {"-x", "", "-eB"}, "B"},
        {"zero byte counts to 20", x19 + "\0-eLATE"s, plus(xs(19), {""}), Unset},
        {"zero byte as 19th, -e 20th", std::string(x19, 0, 18 * 3) + "\0-eLATE"s, plus(xs(18), {"", "-eLATE"}),
         "LATE"},
        {"zero byte ending a token", "-x\0-eA"s, {"-x", "-eA"}, "A"},
        {"zero byte inside quotes ends all", "-eA -e\"B\0C\" -eD"s, {"-eA"}, "A"},
        {"quoted path with spaces", "-e\"C:\\Program Files\\W.EXE\" -x", {"-eC:\\Program Files\\W.EXE", "-x"},
         "C:\\Program Files\\W.EXE"},
        {"unquoted path ends at the space", "-eC:\\Program Files\\W.EXE", {"-eC:\\Program"}, "C:\\Program"},
        {"text after the closing quote is cut", "-e\"a b\"c", {"-ea b"}, "a b"},
        {"quote elsewhere stays", "-ab\"c d\"e", {"-ab\"c d\"e"}, Unset},
        {"empty quotes", "-e\"\"", {"-e"}, ""},
        {"unclosed last quote", "-eA.EXE -e\"C:\\W.EXE", {"-eA.EXE"}, "A.EXE"},
        {"unclosed only quote", "-e\"C:\\W.EXE -x", {}, Unset},
        {"quotes play no part in the search", "\"-eA B\"", {"-eA"}, "A"},
        {"lone minus", "- -eA -", {"-", "-eA", "-"}, "A"},
        {"lone minus before a quote", "- \"x\"-eA", {"-", "-eA"}, "A"},
        {"LF lines", "-eA.EXE\n-x\n", {"-eA.EXE", "-x"}, "A.EXE"},
        {"CR LF lines", "-eA.EXE\r\n-x\r\n", {"-eA.EXE", "-x"}, "A.EXE"},
        {"CR LF inside quotes is one LF", "-e\"A\r\nB\"", {"-eA\nB"}, "A\nB"},
        {"lone CR ends a token", "-eA\rB", {"-eA"}, "A"},
        {"tabs", "\t-eA.EXE\t-x\t", {"-eA.EXE", "-x"}, "A.EXE"},
        {"control bytes end a token", "-eA\x01" "B -eC\x1f" "D", {"-eA", "-eC"}, "C"},
        {"255-byte cut outside quotes", cutOutside, {"-eAB"}, "AB"},
        {"255-byte cut inside quotes", cutInQuotes, {"-eOLD"}, "OLD"},
        {"cut counts bytes before folding", crlfFill + "-eABC", {"-"}, Unset},
        {"same text with LF only", lfFill + "-eABC", {"-eABC"}, "ABC"},
        {"bytes 0x80-0xFF are path characters", "-eC:\\Dienste\\\xDC" "berwachung\\W.EXE -x",
         {"-eC:\\Dienste\\\xDC" "berwachung\\W.EXE", "-x"}, "C:\\Dienste\\\xDC" "berwachung\\W.EXE"},
        {"DEL, NBSP and 0xFF stay", "-eA\x7f\xa0\xff" "B", {"-eA\x7f\xa0\xff" "B"}, "A\x7f\xa0\xff" "B"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartOver();
        WriteFile("T.INI", row.bytes);
        snprintf(IniPath, sizeof IniPath, "%s", "T.INI");
        ReadIniOptions();

        Lines tokens;
        for (int i = 0; i < IniTokenCount; i++)
            tokens.push_back(IniTokens[i]);
        EXPECT_EQ(tokens, row.tokens);
        EXPECT_EQ(Shown(ProgramPath), row.path);
        if (ProgramPath) {
            EXPECT_GE(ProgramPath, IniText);
            EXPECT_LT(ProgramPath, IniText + IniTextSize);
        }
        EXPECT_TRUE(LogMessages().empty());
    }
}

TEST_F(LaunchTest, UnreadableIniFileIsLoggedAndChangesNothing)
{
    struct Row {
        const char* what;
        bool directory;
    } rows[] = {{"missing", false}, {"a directory", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartOver();
        fs::remove_all("T.INI");
        if (row.directory)
            fs::create_directory("T.INI");
        snprintf(IniPath, sizeof IniPath, "%s", "T.INI");
        const char* before = "KEPT.EXE";
        ProgramPath = before;
        ReadIniOptions();
        EXPECT_EQ(ProgramPath, before);
        EXPECT_EQ(IniTokenCount, 0);
        EXPECT_EQ(LogMessages(), (Lines{"Failed to open ini file T.INI"}));
    }
}

TEST_F(LaunchTest, NoTokensBeforeAnyText)
{
    EXPECT_EQ(NextIniToken(nullptr), nullptr);
    EXPECT_EQ(NextIniToken(IniText), nullptr);
}

// ---- the INI file choice -----------------------------------------------------

TEST_F(LaunchTest, IniChoiceByServiceThenComputerThenDefault)
{
    std::string name59(59, 'n');                 // "<59>.ini" is 63 characters: fits
    std::string name60(60, 'm');                 // 64: refused
    std::string cut60 = name60 + ".in";          // what cutting at 63 would give

    struct Row {
        const char* what;
        std::string service;
        Lines files;
        Lines directories;
        std::string computer;
        DWORD computerFails;
        std::string expected;
        bool asksComputer;
    } rows[] = {
        {"service over computer", "QuenraService", {"QuenraService.ini", "SIMHOST.ini"}, {}, "SIMHOST", 0,
         "QuenraService.ini", false},
        {"computer name", "QuenraService", {"SIMHOST.ini", "HOLV32.INI"}, {}, "SIMHOST", 0, "SIMHOST.ini", true},
        {"default, present", "QuenraService", {"HOLV32.INI"}, {}, "SIMHOST", 0, "HOLV32.INI", true},
        {"default, missing too", "KORVIClient", {}, {}, "SIMHOST", 0, "HOLV32.INI", true},
        {"directory named like the service's file", "QuenraService", {"SIMHOST.ini"}, {"QuenraService.ini"},
         "SIMHOST", 0, "SIMHOST.ini", true},
        {"directory named like the computer's file", "QuenraService", {}, {"SIMHOST.ini"}, "SIMHOST", 0,
         "HOLV32.INI", true},
        {"computer name fails", "QuenraService", {"SIMHOST.ini"}, {}, "SIMHOST", ERROR_ACCESS_DENIED,
         "HOLV32.INI", true},
        {"no service name", "", {"SIMHOST.ini"}, {}, "SIMHOST", 0, "SIMHOST.ini", true},
        {"63 characters fit", name59, {name59 + ".ini"}, {}, "SIMHOST", 0, name59 + ".ini", false},
        {"over-long service name is not cut", name60, {cut60}, {}, "SIMHOST", 0, "HOLV32.INI", true},
        {"over-long computer name is not cut", "QuenraService", {cut60}, {}, name60, 0, "HOLV32.INI", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartOver();
        for (const auto& entry : fs::directory_iterator("."))
            if (entry.path().filename() != "HOLVSVC.EXE" && entry.path().filename() != "HOLV32IP.EXE")
                fs::remove_all(entry.path());
        for (const std::string& f : row.files)
            WriteFile(f, "-x");
        for (const std::string& d : row.directories)
            fs::create_directory(d);
        sim::script().computerName = row.computer;
        sim::script().failComputerName = row.computerFails;

        SelectIniFile(row.service.c_str());
        EXPECT_EQ(std::string(IniPath), row.expected);
        EXPECT_EQ(CallsNamed({"GetComputerNameA"}), row.asksComputer ? Lines{"GetComputerNameA(64)"} : Lines{});
        for (const std::string& asked : CallsNamed({"GetFileAttributesA"}))
            EXPECT_EQ(asked.find(".in\""), std::string::npos) << "a cut name was looked up: " << asked;
    }
}

TEST_F(LaunchTest, TryIniNameLeavesItsCandidateOrNothing)
{
    struct Row {
        const char* name;
        bool found;
        const char* left;
    } rows[] = {
        {"Nope", false, "Nope.ini"},  // written even when missing
        {"", false, "previous"},
        {nullptr, false, "previous"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? row.name : "null");
        snprintf(IniPath, sizeof IniPath, "%s", "previous");
        EXPECT_EQ(TryIniName(row.name), row.found);
        EXPECT_STREQ(IniPath, row.left);
    }
    std::string longName(60, 'm');
    snprintf(IniPath, sizeof IniPath, "%s", "previous");
    EXPECT_FALSE(TryIniName(longName.c_str()));
    EXPECT_STREQ(IniPath, "") << "no cut name may be left behind";
}

// ---- the worker program refresh ----------------------------------------------

TEST_F(LaunchTest, RefreshCopiesOnlyANewerLocalProgram)
{
    const char* copied = "New EXE detected, copied HOLV32IP.EXE to ";
    const char* failed = "New EXE detected, copy from HOLV32IP.EXE to ";
    enum Target { Missing, File, Directory, NoParent };
    struct Row {
        const char* what;
        const char* path;         // ProgramPath as the reader left it
        Target target;
        const char* onDisk;       // the file the target names, when not the path itself
        uint64_t targetTime, localTime;
        bool local;               // HOLV32IP.EXE present
        DWORD copyFails;
        const char* expectedPath;
        Lines log;
        bool replaced;            // the target file now holds the local copy
    } rows[] = {
        {"no -e", nullptr, Missing, nullptr, 0, 100, true, 0, "HOLV32IP.EXE", {}, false},
        {"empty -e", "", File, nullptr, 0, 100, true, 0, "HOLV32IP.EXE", {}, false},
        {"missing target", "sub\\W.EXE", Missing, nullptr, 0, 100, true, 0, "sub\\W.EXE",
         {std::string(copied) + "sub\\W.EXE"}, true},
        {"older target", "sub\\W.EXE", File, nullptr, 50, 100, true, 0, "sub\\W.EXE",
         {std::string(copied) + "sub\\W.EXE"}, true},
        {"equal times", "sub\\W.EXE", File, nullptr, 100, 100, true, 0, "sub\\W.EXE", {}, false},
        {"later target never overwritten", "sub\\W.EXE", File, nullptr, 200, 100, true, 0, "sub\\W.EXE", {}, false},
        {"no local copy", "sub\\W.EXE", File, nullptr, 50, 0, false, 0, "HOLV32IP.EXE", {}, false},
        {"copy fails", "sub\\W.EXE", File, nullptr, 50, 100, true, ERROR_SHARING_VIOLATION, "sub\\W.EXE",
         {std::string(failed) + "sub\\W.EXE failed, reason=32"}, false},
        {"target folder missing", "nowhere\\W.EXE", NoParent, nullptr, 0, 100, true, 0, "nowhere\\W.EXE",
         {std::string(failed) + "nowhere\\W.EXE failed, reason=3"}, false},
        {"later directory counts as found", "sub\\W.EXE", Directory, nullptr, 200, 100, true, 0, "sub\\W.EXE", {},
         false},
        {"older directory cannot be overwritten", "sub\\W.EXE", Directory, nullptr, 50, 100, true, 0,
         "sub\\W.EXE", {std::string(failed) + "sub\\W.EXE failed, reason=5"}, false},
        {"wildcards match a later file", "sub\\W*.EXE", File, "sub\\W1.EXE", 200, 100, true, 0, "sub\\W*.EXE", {},
         false},
        // The platform refuses a pattern as a file name (ERROR_INVALID_NAME).
        {"wildcards match an older file", "sub\\W?.EXE", File, "sub\\W1.EXE", 50, 100, true, 123, "sub\\W?.EXE",
         {std::string(failed) + "sub\\W?.EXE failed, reason=123"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartOver();
        fs::remove_all("sub");
        fs::remove_all("nowhere");
        fs::create_directory("sub");
        WriteFile("HOLV32IP.EXE", "MZ new worker");
        if (!row.local)
            fs::remove("HOLV32IP.EXE");
        else
            SetTime("HOLV32IP.EXE", row.localTime);
        std::string onDisk = row.onDisk ? row.onDisk : (row.path ? row.path : "");
        std::string native = onDisk;
        for (char& c : native)
            if (c == '\\')
                c = '/';
        if (row.target == File && !onDisk.empty()) {
            WriteFile(native, "old worker");
            SetTime(onDisk, row.targetTime);
        }
        if (row.target == Directory) {
            fs::create_directory(native);
            SetTime(onDisk, row.targetTime);
        }
        if (row.copyFails)
            sim::script().copyFailures[row.path] = row.copyFails;

        ProgramPath = row.path;
        RefreshWorkerProgram();
        EXPECT_EQ(Shown(ProgramPath), row.expectedPath);
        EXPECT_EQ(LogMessages(), row.log);
        if (row.target == File && !onDisk.empty())
            EXPECT_EQ(ReadFile(native), row.replaced ? "MZ new worker" : "old worker");
        if (row.target == Missing && row.path && row.path[0])
            EXPECT_EQ(ReadFile(native), row.replaced ? "MZ new worker" : "");
        if (!row.path || !row.path[0])
            EXPECT_TRUE(sim::calls().empty()) << "nothing is looked at without a target";
    }
}

TEST_F(LaunchTest, RefreshAsksThePlatformInItsOrder)
{
    fs::create_directory("sub");
    SetTime("HOLV32IP.EXE", 100);
    ProgramPath = "sub\\W.EXE";
    RefreshWorkerProgram();
    Lines names;
    for (const sim::Call& c : sim::calls())
        names.push_back(c.name + "(" + c.args + ")");
    EXPECT_EQ(names, (Lines{"FindFirstFileA(\"sub\\W.EXE\")", "FindFirstFileA(\"HOLV32IP.EXE\")", "FindClose()",
                            "CompareFileTime()", "CopyFileA(\"HOLV32IP.EXE\",\"sub\\W.EXE\",0)",
                            // The copy's record: appending only, one write, closed.
                            "CreateFileA(\"HOLV32.LOG\",0x80000004,4)", "LockFileEx(0x3)", "WriteFile(67)", "CloseHandle(\"HOLV32.LOG\")"}));
}

// ---- through the whole host ----------------------------------------------------

TEST_F(LaunchTest, ServiceIniWithTargetInSubfolderCopiesAndStartsTheCopy)
{
    struct Row {
        const char* what;
        std::string ini;
        const char* program;  // as logged
        std::string commandLine;
    } rows[] = {
        {"plain path", "[Service]\r\n-esub\\W.EXE -x\r\n", "sub\\W.EXE", "sub\\W.EXE QuenraService.ini -c"},
        {"quoted path with a blank", "-e\"sub dir\\W.EXE\"", "sub dir\\W.EXE",
         "\"sub dir\\W.EXE\" QuenraService.ini -c"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartOver();
        fs::remove_all("sub");
        fs::remove_all("sub dir");
        fs::create_directory("sub");
        fs::create_directory("sub dir");
        WriteFile("QuenraService.ini", row.ini);
        sim::script().controls = {{2000, SERVICE_CONTROL_STOP}};
        RunHost();
        std::string program = row.program;
        EXPECT_EQ(LogMessages(), (Lines{"Starting service QuenraService",
                                        "New EXE detected, copied HOLV32IP.EXE to " + program,
                                        "Service starting " + program + " using inifile QuenraService.ini",
                                        "Service stop request received", "Service stopped"}));
        ASSERT_EQ(sim::starts().size(), 1u);
        EXPECT_EQ(sim::starts()[0].commandLine, row.commandLine);
        std::string native = program;
        for (char& c : native)
            if (c == '\\')
                c = '/';
        EXPECT_EQ(ReadFile(native), sim::ProgramImage("worker"));
    }
}

TEST_F(LaunchTest, MissingDefaultIniIsLoggedAndTheDefaultWorkerStarts)
{
    fs::remove("HOLV32.INI");
    sim::script().controls = {{1000, SERVICE_CONTROL_STOP}};
    RunHost();
    Lines log = LogMessages();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "Failed to open ini file HOLV32.INI");
    EXPECT_EQ(log[2], "Service starting HOLV32IP.EXE using inifile HOLV32.INI");
    ASSERT_EQ(sim::starts().size(), 1u);
    EXPECT_EQ(sim::starts()[0].commandLine, "HOLV32IP.EXE HOLV32.INI -c");
}
