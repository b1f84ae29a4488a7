// HOLVCHK's audit of who may change what the service runs, on the simulated
// platform's security descriptors: one table of layouts, each with exactly
// the access findings it must give (object and principal), its exit status,
// and nothing changed.
#include "sim_fixture.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/service.h"
#include "tools/holvchk/check.h"

#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string Alice = "S-1-5-21-7-7-7-1001";
const std::string ServiceKey = "MACHINE\\SYSTEM\\CurrentControlSet\\Services\\QuenraService";
const std::string ServiceDefault = "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)";

class AccessTest : public HostTest {
protected:
    // The test folder plays C:\ and holds Program Files; the service is
    // installed in FOLDER, stopped, with HOLVSVC.EXE, HOLV32IP.EXE and an INI
    // file there.
    void Layout(const std::string& folder, const std::string& ini, const std::string& binaryPath = "")
    {
        fs::current_path(dir);
        for (const auto& entry : fs::directory_iterator(dir))
            fs::remove_all(entry.path());
        sim::Reset();
        ResetHostRecords();
        fs::create_directories(dir + "/PF/Holv");
        fs::create_directories(dir + "/" + folder);
        WriteFile(folder + "/HOLVSVC.EXE", "host");
        WriteFile(folder + "/HOLV32IP.EXE", sim::ProgramImage("worker"));
        WriteFile(folder + "/HOLV32.INI", ini);
        sim::script().serviceName = "(none)";
        sim::script().installed["QuenraService"].binaryPath =
            binaryPath.empty() ? dir + "/" + folder + "/HOLVSVC.EXE" : binaryPath;
        sim::script().access.driveRoot = dir;
        sim::script().access.programFiles = dir + "/PF";
        sim::script().access.accounts["SIMHOST\\alice"] = Alice;
    }
    void Set(const std::string& path, const std::string& descriptor)
    {
        sim::script().access.files[dir + "/" + path] = descriptor;
    }
};

// "object|SID" of each access finding, the test folder shown as C:.
std::set<std::string> AccessFindings(const std::string& report, const std::string& dir)
{
    static const std::regex line("^access: (the service's folder|the host|the folder on the way|the junction or symbolic link on the way|the folder|"
                                 "the INI file|the worker|the program's folder|the program the copy will create|"
                                 "the program|a DLL beside the host|the shutdown event|"
                                 "the service's registry key|the service) (.*?): [^(]*\\((S-[0-9-]+)\\) ");
    std::set<std::string> found;
    std::stringstream in(report);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (text.rfind("access: ", 0) != 0)
            continue;
        EXPECT_TRUE(std::regex_search(text, m, line)) << text;
        std::string object = m[2];
        std::replace(object.begin(), object.end(), '\\', '/');
        if (object.rfind(dir, 0) == 0)
            object = "C:" + object.substr(dir.size());
        found.insert(object + "|" + m[3].str());
    }
    return found;
}

}  // namespace

TEST_F(AccessTest, FindsEveryoneButAdministratorsWhoMayChangeWhatTheServiceRuns)
{
    const std::string locked = sim::LockedFolder;
    const std::string worldWritable = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301ff;;;WD)";
    struct Row {
        const char* what;
        std::function<void()> setUp;
        std::set<std::string> findings;  // "object|SID"
        std::vector<std::string> fragments = {};  // in the report; a leading ! for one that must not be
        int status = -1;  // when the host would not start the worker
    } rows[] = {
        {"a folder created under C:\\", [&] { Layout("SVC", ""); },
         {"C:/SVC|S-1-5-11", "C:/SVC/HOLVSVC.EXE|S-1-5-11", "C:/SVC/HOLV32.INI|S-1-5-11",
          "C:/SVC/HOLV32IP.EXE|S-1-5-11"},
         {"access: the service's folder " + dir + "/SVC: NT AUTHORITY\\Authenticated Users (S-1-5-11) may add files, add "
          "folders, delete it (0x1301BF): can put a QuenraService.ini, a HOLV32IP.EXE or a DLL there and choose the "
          "program LocalSystem runs; icacls \"" + dir + "/SVC\" /inheritance:r /remove:g *S-1-5-11 /grant:r "
          "*S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX",
          "note: the service runs as LocalSystem (S-1-5-18)",
          "the host would start the worker, but a non-administrator can choose what it runs (4 access findings, "}},
        {"a Program Files folder", [&] { Layout("PF/Holv", ""); }, {}, {"!access:"}},
        {"a folder locked as the documents say", [&] { Layout("SVC", ""); Set("SVC", locked); }, {}},
        {"an INI file writable by Users in a locked folder",
         [&] { Layout("SVC", ""); Set("SVC", locked); Set("SVC/HOLV32.INI", "D:(A;;0x1301bf;;;BU)"); },
         {"C:/SVC/HOLV32.INI|S-1-5-32-545"},
         {"can change its -e option", "icacls \"" + dir + "/SVC\\HOLV32.INI\" /inheritance:r /grant:r *S-1-5-18:F"}},
        {"an -e target that does not exist, in a folder Everyone can write",
         [&] {
             Layout("SVC", "-e" + dir + "/RUN/W.EXE");
             Set("SVC", locked);
             fs::create_directory(dir + "/RUN");
             Set("RUN", worldWritable);
         },
         {"C:/RUN|S-1-1-0", "C:/RUN/W.EXE|S-1-1-0"}, {"the program's folder " + dir + "/RUN: Everyone (S-1-1-0) may add files, add folders, delete what is in it, "
          "delete it (0x1301FF): can put a program there that the host starts as LocalSystem: " + dir + "/RUN/W.EXE"}},
        {"an -e target Users may write, in a locked folder",
         [&] {
             Layout("SVC", "-e" + dir + "/RUN/W.EXE");
             Set("SVC", locked);
             fs::create_directory(dir + "/RUN");
             Set("RUN", locked);
             WriteFile("RUN/W.EXE", sim::ProgramImage("old"));
             sim::SetCreationTime(dir + "/RUN/W.EXE", 1);
             Set("RUN/W.EXE", "D:(A;;0x1301bf;;;BU)");
         },
         {"C:/RUN/W.EXE|S-1-5-32-545"}},
        {"a deny ACE that takes the write away",
         [&] {
             Layout("SVC", "");
             Set("SVC", "D:P(D;OICI;0xd0156;;;IU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;IU)");
         },
         {}},
        {"an inherit-only ACE: not the folder's own, but its files'",
         [&] { Layout("SVC", ""); Set("SVC", locked + "(A;OIIO;0x1301bf;;;WD)"); },
         {"C:/SVC/HOLVSVC.EXE|S-1-1-0", "C:/SVC/HOLV32.INI|S-1-1-0", "C:/SVC/HOLV32IP.EXE|S-1-1-0"}},
        {"a NULL DACL", [&] { Layout("SVC", ""); Set("SVC", locked); Set("SVC/HOLV32IP.EXE", "D:NO_ACCESS_CONTROL"); },
         {"C:/SVC/HOLV32IP.EXE|S-1-1-0"}, {"the worker " + dir + "/SVC\\HOLV32IP.EXE: Everyone (S-1-1-0) may do anything"}},
        {"a service Authenticated Users may reconfigure",
         [&] {
             Layout("SVC", "");
             Set("SVC", locked);
             sim::script().access.services["QuenraService"] = ServiceDefault + "(A;;CCDCLC;;;AU)";
         },
         {"QuenraService|S-1-5-11"}, {"may change its configuration (0x7): can point the service at any program", "sc sdset QuenraService D:"}},
        {"a registry key Authenticated Users may write",
         [&] {
             Layout("SVC", "");
             Set("SVC", locked);
             sim::script().access.keys[ServiceKey] = "O:SYD:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KW;;;AU)";
         },
         {"HKLM/SYSTEM/CurrentControlSet/Services/QuenraService|S-1-5-11"}},
        {"a service running as LocalService, whose own account may write its folder",
         [&] {
             Layout("SVC", "");
             Set("SVC", locked + "(A;OICI;0x1301bf;;;LS)");
             sim::script().installed["QuenraService"].startName = "NT AUTHORITY\\LocalService";
         },
         {}, {"note: the service runs as NT AUTHORITY\\LocalService (S-1-5-19)", "!may not create"}},
        {"a service running as LocalService in a folder locked to it",
         [&] {
             Layout("SVC", "-e" + dir + "/SVC/RUN.EXE");
             Set("SVC", locked);
             sim::script().installed["QuenraService"].startName = "NT AUTHORITY\\LocalService";
         },
         {},
         {"warning: the service's account NT AUTHORITY\\LocalService (S-1-5-19) may not create " + dir +
          "/SVC\\HOLV32.LOG: the host's records are lost",
          "error: without that copy the start will not find " + dir + "/SVC/RUN.EXE: it fails with error 2"},
         CheckDoesNotStart},
        {"an owner who is not an administrator",
         [&] { Layout("SVC", ""); Set("SVC", locked); Set("SVC/HOLV32.INI", "O:" + Alice + "D:"); },
         {"C:/SVC/HOLV32.INI|" + Alice},
         {"SIMHOST\\alice (" + Alice + ") owns it and may change its permissions (0x60000)", "/setowner *S-1-5-32-544"}},
        {"an owner whom OWNER RIGHTS leaves only reading",
         [&] { Layout("SVC", ""); Set("SVC", locked); Set("SVC/HOLV32.INI", "O:" + Alice + "D:(A;;0x1200a9;;;OW)"); },
         {}},
        {"a member of Administrators",
         [&] {
             Layout("SVC", "");
             Set("SVC", locked + "(A;OICI;FA;;;" + Alice + ")");
             sim::script().access.administrators.push_back(Alice);
         },
         {}, {"Administrators and 2 of its members"}},
        {"a shutdown event that exists while the service is stopped, Everyone may signal it",
         [&] {
             Layout("SVC", "");
             Set("SVC", locked);
             std::string event = sim::EventNameFor(dir + "/SVC");
             sim::HoldEvent(event, false);
             sim::script().access.events[event] = "O:SYD:(A;;0x1f0003;;;WD)";
         },
         {sim::EventNameFor(dir + "/SVC") + "|S-1-1-0"},
         {"warning: " + sim::EventNameFor(dir + "/SVC") + " exists while QuenraService is stopped",
          "!may not open"}},
        {"a binary path with a space and no quotes, where Users may add a file",
         [&] {
             Layout("My Svc", "", dir + "/My Svc/HOLVSVC.EXE");
             Set("My Svc", locked);
             sim::script().access.files[dir] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;BU)";
         },
         {"C:|S-1-5-32-545"},
         {"Windows starts as LocalSystem in place of the host: " + dir + "/My.exe",
          "quote the binary path: sc config QuenraService binPath= \"\\\"" + dir + "/My Svc/HOLVSVC.EXE\\\"\""}},
        // The root's own right to add folders is no way to a shorter name's
        // program, but the host itself works in the root then.
        {"the root itself gives nothing to add a file",
         [&] { Layout("My Svc", "", dir + "/My Svc/HOLVSVC.EXE"); Set("My Svc", locked); }, {"C:|S-1-5-11"},
         {"access: the service's folder " + dir + ": NT AUTHORITY\\Authenticated Users (S-1-5-11) may add folders",
          "!in place of the host"}},
        {"a DLL beside the host that Users may write",
         [&] {
             Layout("SVC", "");
             Set("SVC", locked);
             WriteFile("SVC/A.DLL", "MZ");
             WriteFile("SVC/version.dll", "MZ");
             Set("SVC/version.dll", "D:(A;;0x1301bf;;;BU)");
         },
         {"C:/SVC/version.dll|S-1-5-32-545"}},
        // Each of these once gave no finding (or hid one).
        {"16 groups that may read, then Authenticated Users with write",
         [&] {
             Layout("SVC", "");
             Set("SVC", locked);
             std::string dacl = "D:";
             for (int i = 1; i <= 16; i++)
                 dacl += "(A;;FR;;;S-1-5-21-7-7-7-" + std::to_string(2000 + i) + ")";
             Set("SVC/HOLV32.INI", dacl + "(A;;0x1301bf;;;AU)");
         },
         {"C:/SVC/HOLV32.INI|S-1-5-11"}},
        {"a callback allow, whose condition may hold",
         [&] { Layout("SVC", ""); Set("SVC", locked + "(XA;OICI;0x1301bf;;;AU;(Member_of {SID(AU)}))"); },
         {"C:/SVC|S-1-5-11", "C:/SVC/HOLVSVC.EXE|S-1-5-11", "C:/SVC/HOLV32.INI|S-1-5-11",
          "C:/SVC/HOLV32IP.EXE|S-1-5-11"},
         {"warning: the log the host will create " + dir + "/SVC\\HOLV32.LOG: NT AUTHORITY\\Authenticated Users"}},
        {"a deny for Authenticated Users does not reach Guests",
         [&] { Layout("SVC", ""); Set("SVC", locked); Set("SVC/HOLV32.INI", "D:(D;;0x1301bf;;;AU)(A;;0x1301bf;;;BG)"); },
         {"C:/SVC/HOLV32.INI|S-1-5-32-546"}},
        {"an -e target the copy will create in a folder that passes Everyone write to new files",
         [&] {
             Layout("SVC", "-e" + dir + "/RUN/W.EXE");
             Set("SVC", locked);
             fs::create_directory(dir + "/RUN");
             Set("RUN", locked + "(A;OIIO;0x1301bf;;;WD)");
         },
         {"C:/RUN/W.EXE|S-1-1-0"},
         {"the program the copy will create " + dir + "/RUN/W.EXE: Everyone (S-1-1-0) may write, append, delete it"}},
        {"a locked folder under a C:\\Tools made with what C:\\ passes on",
         [&] { Layout("Tools/SVC", ""); Set("Tools/SVC", locked); },
         {"C:/Tools|S-1-5-11"},
         {"the folder on the way " + dir + "/Tools: NT AUTHORITY\\Authenticated Users (S-1-5-11) may add folders, "
          "delete it (0x10004): can rename a folder on the way and build the path again, with programs of "
          "their own for LocalSystem to run in " + dir + "/Tools/SVC; icacls \"" + dir + "/Tools\" /inheritance:r "
          "/remove:g *S-1-5-11"}},
        {"a junction on the way, to a folder a user owns",
         [&] {
             Layout("TGT/SVC", "", dir + "/J/SVC/HOLVSVC.EXE");
             Set("TGT/SVC", locked);
             Set("TGT", "O:" + Alice + "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
             fs::create_directory_symlink(dir + "/TGT", dir + "/J");
         },
         {"C:/J|" + Alice, "C:/TGT|" + Alice},
         {"access: the junction or symbolic link on the way " + dir + "/J: SIMHOST\\alice (" + Alice + ") owns it"}},
        {"an ACE of a type the check does not know",
         [&] { Layout("SVC", ""); Set("SVC", locked); Set("SVC/HOLV32.INI", "D:(A;;FR;;;BU)(0x4;;0x1301bf;;;AU)"); },
         {},
         {"warning: audit incomplete: " + dir + "/SVC\\HOLV32.INI holds an ACE of type 0x4",
          "but who may change what it runs is not known whole (audit incomplete)"},
         CheckAuditIncomplete},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.setUp();
        auto before = sim::script().access;
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            files[entry.path().string()] = entry.is_directory() ? "(folder)" : ReadFile(entry.path().string().substr(dir.size() + 1));

        int status = CheckFolder("QuenraService", NULL);
        std::string report = CheckOutput;
        EXPECT_EQ(AccessFindings(report, dir), row.findings) << report;
        int expected = row.status >= 0 ? row.status : row.findings.empty() ? CheckStarts : CheckStartsExposed;
        EXPECT_EQ(status, expected) << report;
        EXPECT_EQ(report.find("but a non-administrator can choose what it runs") != std::string::npos,
                  expected == CheckStartsExposed) << report;
        for (const std::string& expected : row.fragments) {
            bool absent = expected[0] == '!';
            EXPECT_EQ(report.find(absent ? expected.substr(1) : expected) != std::string::npos, !absent)
                << expected << "\n" << report;
        }
        // Read only: no file, descriptor or event touched.
        std::map<std::string, std::string> after;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            after[entry.path().string()] = entry.is_directory() ? "(folder)" : ReadFile(entry.path().string().substr(dir.size() + 1));
        EXPECT_EQ(after, files);
        EXPECT_EQ(sim::script().access.files, before.files);
        std::vector<std::string> calls = sim::callNames();
        for (const char* call : {"CopyFileA", "CreateProcessA", "CreateEventA", "OpenEventA", "SetEvent"})
            EXPECT_EQ(std::count(calls.begin(), calls.end(), call), 0) << call;
    }
}
