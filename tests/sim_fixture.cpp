// The test fixture: temporary directory, simulated platform, host records.
#include "sim_fixture.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/service.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

void ResetHostRecords()
{
    ServiceStatus = {SERVICE_WIN32_OWN_PROCESS, 0, SERVICE_ACCEPT_STOP, 0, 0, 0, WaitHintMs};
    StatusHandle = nullptr;
    StopRequested = 0;
    memset(IniPath, 0, sizeof IniPath);
    ProgramPath = nullptr;
    memset(IniText, 0, sizeof IniText);
    IniTextLength = 0;
    IniCursor = 0;
    memset(IniTokens, 0, sizeof IniTokens);
    IniTokenCount = 0;
    IniDropped = nullptr;
}

void HostTest::SetUp()
{
    oldDir = fs::current_path().string();
    char pattern[] = "/tmp/holvtest-XXXXXX";
    dir = mkdtemp(pattern);
    fs::current_path(dir);
    sim::Reset();
    ResetHostRecords();
    WriteFile("HOLVSVC.EXE", "host");
    WriteFile("HOLV32IP.EXE", sim::ProgramImage("worker"));
    // An installed service has its default INI file; without it the start logs
    // that the file cannot be opened.
    WriteFile("HOLV32.INI", "");
}

void HostTest::TearDown()
{
    fs::current_path(oldDir);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void HostTest::StartOver()
{
    sim::Reset();
    ResetHostRecords();
    std::filesystem::remove(dir + "/HOLV32.LOG");
}

int HostTest::RunHost() { return RunHostAs(dir + "/HOLVSVC.EXE"); }

int HostTest::RunHostAs(const std::string& argv0)
{
    std::string arg = argv0;
    char* argv[] = {arg.data(), nullptr};
    return HostMain(1, argv);
}

std::string HostTest::ReadFile(const std::string& name) const
{
    std::ifstream in(dir + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void HostTest::WriteFile(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << bytes;
}

std::string HostTest::LogBytes() const { return ReadFile("HOLV32.LOG"); }

std::vector<std::string> HostTest::LogMessages() const
{
    std::vector<std::string> messages;
    std::string bytes = LogBytes();
    static const std::regex record("\r\n[0-3][0-9]/[01][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] ");
    std::sregex_token_iterator it(bytes.begin(), bytes.end(), record, -1), end;
    bool first = true;
    for (; it != end; ++it, first = false) {
        if (first) {
            EXPECT_EQ(*it, "") << "the log must begin with a record";
            continue;
        }
        messages.push_back(*it);
    }
    return messages;
}

std::vector<DWORD> HostTest::ReportedStates() const
{
    std::vector<DWORD> states;
    for (const sim::Report& r : sim::reports())
        states.push_back(r.status.dwCurrentState);
    return states;
}
