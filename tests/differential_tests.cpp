// A seeded random differential between HOLVCHK and the host: thousands of
// generated folder layouts, each checked first and then run by the host on
// the simulated platform, which follows Windows' rules for names, drives,
// copies and starts. Both must agree on the INI file, the program, the
// command line, the copy and its error, the start and its error and the
// program file loaded, and after a copy whether the next start copies again;
// the check must change nothing.
// HOLV_DIFF_SEED and HOLV_DIFF_LAYOUTS choose another run (README, "Tests").
#include "sim_fixture.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/service.h"
#include "tools/holvchk/check.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const uint64_t DefaultSeed = 20261209;
const int DefaultLayouts = 10000;

uint64_t FromEnvironment(const char* name, uint64_t fallback)
{
    const char* text = getenv(name);
    return text && *text ? std::stoull(text) : fallback;
}

// Control bytes as HOLVCHK shows them.
std::string Shown(const std::string& text)
{
    std::string out;
    char piece[8];
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            snprintf(piece, sizeof piece, "<%02X>", c);
        else
            snprintf(piece, sizeof piece, "%c", c);
        out += piece;
    }
    return out;
}

std::string Match(const std::string& text, const std::string& pattern)
{
    static std::map<std::string, std::regex> compiled;
    auto it = compiled.find(pattern);
    if (it == compiled.end())
        it = compiled.emplace(pattern, std::regex(pattern)).first;
    std::smatch m;
    return std::regex_search(text, m, it->second) ? m[1].str() : "";
}

// One layout: the files on disk stay for both runs; what the platform holds
// (drives, registry, installation, creation times) is applied again after
// each reset.
struct Layout {
    std::string root;                             // this machine's folder for the drives
    std::string binaryPath, argv0, imageFolder;   // as installed; as Windows passes it; native
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    std::string systemPath, userPath;
    std::vector<std::pair<std::string, uint64_t>> times;  // Windows path, creation time
    std::vector<std::string> inUse;                       // programs another process runs
    std::string story;                                    // what was chosen, for a report
    UINT codePage = 1252;                                 // the system's ANSI code page
    std::string tools;                                    // the system variable TOOLS, if any

    void Apply(bool asService) const
    {
        sim::Reset();
        ResetHostRecords();
        sim::Script& s = sim::script();
        s.drives = {{'C', {root + "/C", DRIVE_FIXED}}, {'D', {root + "/D", DRIVE_FIXED}},
                    {'Z', {root + "/Z", DRIVE_REMOTE}}};
        s.systemPath = systemPath;
        s.path = userPath;
        s.windowsDirectory = "C:\\WIN";
        s.systemDirectory = "C:\\WIN\\system32";
        s.installed["QuenraService"].binaryPath = binaryPath;
        s.installed["QuenraService"].type = type;
        s.installedType = type;
        s.underServiceManager = asService;
        s.applicationDirectory = asService ? imageFolder : "";
        // The worker ends by itself: no control to hand between threads.
        s.worker = {sim::WorkerScript::ExitAt, 1500, 0};
        for (const auto& [path, ticks] : times)
            sim::SetCreationTime(path, ticks);
        s.filesInUse = inUse;
        s.ansiCodePage = codePage;
        if (!tools.empty())
            s.systemVariables["TOOLS"] = tools;
    }
};

class DifferentialTest : public HostTest {
protected:
    std::mt19937_64 rng;
    Layout layout;

    int Pick(int n) { return (int)(rng() % (uint64_t)n); }
    bool Chance(int percent) { return Pick(100) < percent; }
    template <class T> const T& OneOf(const std::vector<T>& items) { return items[Pick((int)items.size())]; }

    // A Windows path as a path of this machine, drive letter required.
    std::string Native(const std::string& windows) const
    {
        std::string p = layout.root + "/" + windows.substr(0, 1) + "/" + windows.substr(3);
        std::replace(p.begin(), p.end(), '\\', '/');
        return p;
    }

    void Put(const std::string& windows, const std::string& bytes) const
    {
        fs::create_directories(fs::path(Native(windows)).parent_path());
        std::ofstream(Native(windows), std::ios::binary) << bytes;
    }

    // A program file, or one of the things that can lie in its place.
    void PutProgram(const std::string& windows, const std::string& tag, int kind, uint64_t ticks)
    {
        static const char* const kinds[] = {"missing", "program", "folder", "MZ and junk", "text", "cut short",
                                            "read-only program", "program in use", "DLL", "ARM program",
                                            "native program"};
        layout.story += " " + windows + "=" + kinds[kind];
        std::string image = sim::ProgramImage(tag);
        switch (kind) {
        case 0: return;
        case 1: Put(windows, image); break;
        case 2: fs::create_directories(Native(windows)); break;
        case 3: Put(windows, "MZ" + std::string(600, 'j')); break;
        case 4: Put(windows, "text"); break;
        case 5: Put(windows, image.substr(0, 0x300)); break;
        case 6:
            Put(windows, image);
            chmod(Native(windows).c_str(), 0444);
            break;
        case 7:
            Put(windows, image);
            layout.inUse.push_back(Native(windows));
            break;
        case 8: image[0x57] |= 0x20; Put(windows, image); break;              // IMAGE_FILE_DLL
        case 9: image[0x44] = (char)0xC4, image[0x45] = 1; Put(windows, image); break;  // ARMNT
        case 10: image[0x58 + 68] = 1; Put(windows, image); break;           // native subsystem
        }
        layout.times.push_back({windows, ticks});
    }

    // The -e option's text and the file it names, if any, to fill.
    std::string ProgramOption(std::string* target)
    {
        static const std::vector<std::string> plain = {
            "W.EXE", "RUN\\W.EXE", "C:\\RUN\\W.EXE", "D:\\W.EXE", "D:W.EXE", "C:\\RUN\\W", "W", "W.",
            "Z:\\W.EXE", "HOLV32IP.EXE", "RUN", "TOOL.EXE", "C:\\RUN\\" + std::string(58, 'w') + ".EXE",
            // Relative paths with folders, a drive's own folder, rooted names,
            // batch files, and the spellings Windows takes for the same file.
            "RUN\\W", ".\\W.EXE", ".\\RUN\\W", "C:RUN\\W.EXE", "\\RUN\\W.EXE", "C:\\RUN\\W.CMD", "RUN\\W.CMD",
            "C:\\RUN", "c:\\run\\w.exe", "run\\W.exe", "C:\\RUN\\W.EXE.", "C:\\RUN\\W.", "C:\\RUN\\",
            "C:\\RUN\\W:1.EXE",
        };
        // Names no file can have, and places that cannot be reached (W: is
        // no drive); a pattern may match a file of its own.
        static const std::vector<std::string> refused = {
            "W:1.EXE", "W:\\RUN\\W.EXE", "C:\\NOPE\\W.EXE", "C:\\RUN\\W|.EXE", "C:\\RUN\\W<.EXE",
            "C:\\RUN\\a:b:c.EXE", "C:\\NOPE\\W|.EXE", "C:\\RUN\\W>.EXE",
        };
        switch (Pick(10)) {
        case 0: *target = "C:\\RUN DIR\\W.EXE"; return "\"C:\\RUN DIR\\W.EXE\"";
        case 1: *target = "C:\\RUN DIR\\W.EXE"; return "C:\\RUN DIR\\W.EXE";
        case 2: return OneOf<std::string>({"\"C:\\RUN DIR\\W.EXE\r\n-a\"x", "\"\r\n\"", "\"C:\\RUN\\W.EXE\r\n\""});
        case 3: return OneOf(refused);
        case 4: *target = OneOf<std::string>({"C:\\RUN\\W*.EXE", "C:\\RUN\\W?.EXE"}); return *target;
        default: *target = OneOf(plain); return *target;
        }
    }

    std::string IniText()
    {
        std::string text;
        if (Chance(5))
            text += "\xEF\xBB\xBF";
        if (Chance(15))
            text += "; options, re-read at each start\r\n";
        if (Chance(30))
            text += "-t60 ";
        std::string target;
        std::string option = ProgramOption(&target);
        if (Chance(5))
            text += std::string(Chance(50) ? 300 : 700, ' ');
        if (Chance(4))
            text += "-q\"x ";
        switch (Pick(20)) {
        case 0: text += "-E" + option; break;
        case 1: text += "-e " + option; break;
        case 2: text += "-eOLD.EXE -e" + option; break;
        case 3: break;
        default: text += "-e" + option; break;
        }
        text += OneOf<std::string>({"\r\n", " ", "\n", "\t", std::string(1, '\0')});
        if (Chance(30))
            text += "-x3\r\n";
        if (!target.empty()) {
            int kind = Pick(10) < 3 ? 0 : Pick(7);
            // The file as it lies on disk: upper case, without trailing dots.
            std::string windows = target;
            std::transform(windows.begin(), windows.end(), windows.begin(), ::toupper);
            windows.resize(windows.find_last_not_of(". ") + 1);
            if (windows.rfind(".\\", 0) == 0)
                windows = windows.substr(2);
            std::string at = work + (work.back() == '\\' ? "" : "\\");
            if (windows[0] == '\\')
                windows = work.substr(0, 2) + windows;
            else if (windows.find(':') == std::string::npos)
                windows = at + windows;
            else if (windows[2] != '\\')
                // C:RUN\W.EXE: C:'s folder is the working directory on C:, else its root.
                windows = (windows[0] == work[0] ? at : windows.substr(0, 2) + "\\") + windows.substr(2);
            bool bare = windows.find('.', windows.find_last_of('\\') + 1) == std::string::npos;
            // A file with .exe beside a name without an extension, and a folder
            // named like the program beside its .exe.
            if (bare && windows.back() != '\\')
                PutProgram(windows + ".EXE", "stale", Pick(3), Tick(Pick(3)));
            if (target == "C:\\RUN\\W*.EXE" || target == "C:\\RUN\\W?.EXE")
                windows = "C:\\RUN\\W1.EXE";
            if (target != "HOLV32IP.EXE" && target != "TOOL.EXE" && windows.back() != '\\')
                PutProgram(windows, Chance(15) ? "local" : "mine", kind == 0 ? 0 : Pick(11), Tick(Pick(3)));
        }
        return text;
    }

    static uint64_t Tick(int n) { return 130000000000000000ull + (uint64_t)n * 864000000000ull; }

    std::string work;  // the folder the host works in, as Windows spells it
    std::vector<std::string> checkCalls;

    void Generate()
    {
        layout.times.clear();
        layout.inUse.clear();
        layout.story.clear();
        fs::current_path(dir);
        for (const char* d : {"C", "D", "Z"}) {
            fs::remove_all(layout.root + "/" + d);
            fs::create_directories(layout.root + "/" + d);
        }
        fs::create_directories(Native("C:\\WIN\\system32"));

        std::string image;
        switch (Pick(8)) {
        case 0: case 1: case 2:
            image = "C:\\SVC\\HOLVSVC.EXE", layout.binaryPath = Chance(50) ? image : "\"" + image + "\"";
            layout.argv0 = image, work = "C:\\SVC";
            break;
        case 3: case 4:
            image = "D:\\HOLVSVC.EXE", layout.binaryPath = image, layout.argv0 = image, work = "D:\\";
            break;
        case 5:
            image = "C:\\My Svc\\HOLVSVC.EXE", layout.binaryPath = "\"" + image + "\"";
            layout.argv0 = image, work = "C:\\My Svc";
            break;
        default:
            // Unquoted, the path ends at the space for the C runtime: argument 0
            // is C:\My, and the host works in C:\.
            image = "C:\\My Svc\\HOLVSVC.EXE", layout.binaryPath = image, layout.argv0 = "C:\\My", work = "C:\\";
            break;
        }
        layout.story = "binary path " + layout.binaryPath + ";";
        // A system whose code page is UTF-8 ("Use Unicode UTF-8 for worldwide
        // language support"): host and check read the same bytes there too.
        layout.codePage = Chance(25) ? CP_UTF8 : 1252;
        if (layout.codePage == CP_UTF8)
            layout.story += " system code page 65001;";
        Put(image, "host");
        layout.imageFolder = fs::path(Native(image)).parent_path().string();
        layout.type = Chance(20) ? 0x110 : 0x10;
        std::string at = work + (work.back() == '\\' ? "" : "\\");

        if (Chance(80))
            fs::create_directories(Native("C:\\RUN"));
        if (Chance(50))
            fs::create_directories(Native("C:\\RUN DIR"));
        if (Chance(50))
            fs::create_directories(Native(at + "RUN"));
        PutProgram(at + "HOLV32IP.EXE", "local", Chance(55) ? 1 : OneOf<int>({0, 2, 3, 4, 5, 6, 8, 9, 10}), Tick(1));
        if (work == "C:\\" && Chance(50))
            PutProgram("C:\\My Svc\\HOLV32IP.EXE", "image folder", 1, Tick(1));
        if (Chance(30))
            PutProgram(OneOf<std::string>({"C:\\BIN\\", "C:\\UBIN\\", "Z:\\BIN\\"}) +
                           OneOf<std::string>({"HOLV32IP.EXE", "TOOL.EXE"}),
                       "path", Pick(2) + 1, Tick(0));
        layout.systemPath = OneOf<std::string>({"", "%SystemRoot%\\system32;C:\\BIN", "C:\\BIN", "Z:\\BIN",
                                                "C:\\NOPE;%NOSUCH%;C:\\BIN", "%TOOLS%", "C:\\NOPE;%TOOLS%"});
        // The service's environment has the system's variables, never the
        // checking user's.
        layout.tools = OneOf<std::string>({"", "C:\\BIN", "%SystemRoot%\\BIN"});
        if (!layout.tools.empty())
            layout.story += " TOOLS=" + layout.tools + ";";

        layout.userPath = OneOf<std::string>({"", "C:\\UBIN", "C:\\UBIN;C:\\BIN"});
        layout.story += " PATH " + layout.systemPath + ", the user's " + layout.userPath + ";";

        static const char* const names[] = {"QuenraService.ini", "SIMHOST.ini", "HOLV32.INI"};
        int chosen = Pick(10);
        chosen = chosen < 3 ? 0 : chosen < 5 ? 1 : chosen < 9 ? 2 : 3;
        if (chosen < 3) {
            std::string text = IniText();
            Put(at + names[chosen], text);
            layout.story += std::string(" ") + names[chosen] + ": " + Shown(text);
        }
        if (chosen != 0 && Chance(5))
            fs::create_directories(Native(at + names[0]));
        if (chosen == 2 && Chance(20))
            Put(at + names[1], "-eDECOY.EXE");
    }

    // Every entry with its kind, size, permissions and time of last change:
    // no write goes unseen.
    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(layout.root)) {
            struct stat st;
            lstat(entry.path().c_str(), &st);
            entries[entry.path().string()] = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                                             std::to_string(st.st_ctim.tv_sec) + "." +
                                             std::to_string(st.st_ctim.tv_nsec);
        }
        return entries;
    }

    // What differs between the check's report and the host's run; empty
    // when they agree.
    std::string Compare(int status, const std::string& report, bool unchanged, const std::string& log)
    {
        std::string diff;
        auto expect = [&](const std::string& what, const std::string& check, const std::string& host) {
            if (check != host)
                diff += "  " + what + ": the check says '" + check + "', the host '" + host + "'\n";
        };
        if (!unchanged)
            diff += "  the check changed the folder\n";
        for (const std::string& call : checkCalls)
            if (call == "CopyFileA" || call == "CreateProcessA" || call == "CreateEventA" || call == "SetEvent")
                diff += "  the check called " + call + "\n";
        std::string started = Match(log, "Service starting ([^\r]*) using inifile");
        expect("INI file", Match(report, "^INI file: ([^\n]*)"), Shown(Match(log, "using inifile ([^\r]*)")));
        expect("program", Match(report, "\nProgram: ([^\n]*)"), Shown(started));
        std::string copied = log.find("New EXE detected, copied") != std::string::npos ? "0"
                             : Match(log, "New EXE detected, copy from [^\r]* failed, reason=([0-9]+)");
        std::string predicted = report.find("refresh: before the start the host copies") == std::string::npos
                                    ? ""
                                    : Match(report, "the copy to [^\n]* will fail[^\n]*\\(error ([0-9]+)\\)");
        if (predicted.empty() && report.find("refresh: before the start the host copies") != std::string::npos)
            predicted = "0";
        expect("copy (0: copied)", predicted, copied);
        if (status != CheckStarts && report.find("\nerror: ") == std::string::npos)
            diff += "  start: no finding explains why the worker does not start\n";
        bool hostStarted = !sim::starts().empty() && sim::starts()[0].processId != 0;
        expect("start", status == CheckStarts ? "started" : "error " + Match(report, "would not start the worker, error ([0-9]+)"),
               hostStarted ? "started" : "error " + Match(log, " not started! error=([0-9]+)"));
        if (hostStarted) {
            expect("command line", Match(report, "\nCommand line: ([^\n]*)"), Shown(sim::starts()[0].commandLine));
            std::string found = Match(report, "the start finds the program as (.*?)(?: \\(along the system PATH.*)?\n");
            std::string native = found, at = work + (work.back() == '\\' ? "" : "\\");
            if (found.size() > 2 && found[1] == ':' && found[2] == '\\')
                native = Native(found);
            else if (found.size() > 2 && found[1] == ':')  // C:RUN: C:'s folder is the working one on C:
                native = Native((found[0] == work[0] ? at : found.substr(0, 2) + "\\") + found.substr(2));
            else if (found[0] == '\\')
                native = Native(work.substr(0, 2) + found);
            std::replace(native.begin(), native.end(), '\\', '/');
            // Windows drops the last name's trailing dots and blanks, and
            // matches names regardless of case.
            native.resize(native.find_last_not_of(". ") + 1);
            auto lower = [](std::string t) {
                std::transform(t.begin(), t.end(), t.begin(), ::tolower);
                return fs::path(t).lexically_normal().string();
            };
            std::error_code ec;
            if (!fs::equivalent(native, sim::starts()[0].image, ec) && lower(native) != lower(sim::starts()[0].image))
                expect("program file", found, sim::starts()[0].image);
        }
        return diff;
    }
};

}  // namespace

TEST_F(DifferentialTest, CheckAndHostAgreeOnRandomLayouts)
{
    uint64_t seed = FromEnvironment("HOLV_DIFF_SEED", DefaultSeed);
    int count = (int)FromEnvironment("HOLV_DIFF_LAYOUTS", DefaultLayouts);
    // The layouts' drives on a memory file system where there is one.
    char shm[] = "/dev/shm/holvdiff-XXXXXX";
    bool inMemory = fs::is_directory("/dev/shm") && mkdtemp(shm);
    layout.root = fs::canonical(inMemory ? shm : dir).string();
    int disagreements = 0, started = 0, seconds = 0;
    std::map<std::string, int> kinds;  // disagreements by what differs
    for (int i = 0; i < count; i++) {
        rng.seed(seed * 1000003 + (uint64_t)i);
        Generate();
        layout.Apply(false);
        auto before = Snapshot();
        int status = CheckFolder("QuenraService", NULL);
        std::string report = CheckOutput;
        bool unchanged = Snapshot() == before;
        checkCalls = sim::callNames();

        layout.Apply(true);
        fs::current_path(dir);
        RunHostAs(layout.argv0);
        std::string log;
        std::string logPath = fs::current_path().string() + "/HOLV32.LOG";
        std::ifstream in(logPath, std::ios::binary);
        log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        started += !sim::starts().empty() && sim::starts()[0].processId != 0;

        std::string diff = Compare(status, report, unchanged, log);
        // A second start after a copy: an overwritten target keeps its
        // creation time and is copied again, a new one is not.
        if (log.find("New EXE detected, copied") != std::string::npos) {
            layout.Apply(true);
            fs::current_path(dir);
            RunHostAs(layout.argv0);
            std::ifstream again(logPath, std::ios::binary);
            std::string both((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
            bool copiedAgain = both.find("New EXE detected", log.size()) != std::string::npos;
            bool predicted = report.find("the next start copies again") != std::string::npos;
            if (copiedAgain != predicted)
                diff += std::string("  next start: the check says it ") + (predicted ? "copies" : "does not copy") +
                        ", the host " + (copiedAgain ? "copied" : "did not") + "\n";
            seconds++;
        }
        std::stringstream lines(diff);
        for (std::string line; std::getline(lines, line);)
            kinds[line.substr(0, line.find(':'))]++;
        if (!diff.empty() && ++disagreements <= 5)
            ADD_FAILURE() << "layout " << i << " of seed " << seed << ":" << layout.story << "\n"
                          << diff << report << "log:" << log << "\n";
    }
    for (const auto& [kind, n] : kinds)
        std::cout << n << " x" << kind << "\n";
    fs::current_path(dir);
    if (inMemory)
        fs::remove_all(layout.root);
    std::cout << count << " layouts (seed " << seed << "), the host started the worker in " << started << ", started "
              << "again after a copy in " << seconds << "; " << disagreements << " disagreements\n";
    EXPECT_EQ(disagreements, 0);
    EXPECT_GT(started, 0);
    EXPECT_LT(started, count);
}
