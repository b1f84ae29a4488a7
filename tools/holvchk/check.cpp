// The check of one folder, step by step in the host's own order, and the log
// file the host will write there.
#include "check.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/service.h"
#include "support/log.h"

#include <stdio.h>
#include <string.h>

// What the host would write to its log during the steps checked here.
static void CaptureLog(const char* message)
{
    Finding(FindingWarning, "the host will log \"%s\"", message);
}

void CheckLog()
{
    DWORD attributes = GetFileAttributesA("HOLV32.LOG");
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Finding(FindingNote, "HOLV32.LOG does not exist yet: the host creates it");
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        Finding(FindingWarning, "HOLV32.LOG is a folder: every record of the host is lost");
        return;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        Finding(FindingWarning, "HOLV32.LOG is read-only: every record of the host is lost");
        return;
    }
    // Opened as the host opens it, and closed with nothing written.
    HANDLE file = OpenLogFile(OPEN_EXISTING);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    else
        Finding(FindingWarning, "HOLV32.LOG cannot be opened for writing (in use, or not writable): the host's "
                "records are lost while that lasts");
}

int UsageReport(const char* problem)
{
    int n = snprintf(CheckOutput, sizeof CheckOutput, "HOLVCHK: %s\nusage: HOLVCHK NAME [DIRECTORY]\nNAME is the "
                     "service's name (1 to 256 characters, no / or \\), as a rule one of:", problem);
    for (int i = 0; i < ServiceNameCount && n > 0 && n < (int)sizeof CheckOutput; i++)
        n += snprintf(CheckOutput + n, sizeof CheckOutput - n, " %s", ServiceNames[i]);
    if (n > 0 && n < (int)sizeof CheckOutput)
        snprintf(CheckOutput + n, sizeof CheckOutput - n, "\nDIRECTORY defaults to the installed service's folder, "
                 "else the current one.\n");
    return CheckUsage;
}

// Moves to the folder to check, spelled as the installed host spells it when
// it is the same folder: the shutdown event's name hangs on that text.
static bool EnterFolder(const char* directory)
{
    const char* folder = directory ? directory : Facts.hostDirectory[0] ? Facts.hostDirectory : NULL;
    // The host, unable to enter argument 0's folder, works in its own file's.
    if (folder && !SetCurrentDirectoryA(folder) &&
        (directory || !Facts.imageDirectory[0] || !SetCurrentDirectoryA(Facts.imageDirectory)))
        return false;
    GetCurrentDirectoryA(MAX_PATH, Facts.directory);
    RememberFolder();
    if (!directory || !Facts.hostDirectory[0])
        return true;
    char host[MAX_PATH];
    if (SpelledAs(Facts.hostDirectory, host, sizeof host) && lstrcmpiA(host, Facts.directory) == 0) {
        snprintf(Facts.directory, sizeof Facts.directory, "%s", host);
        SetCurrentDirectoryA(Facts.directory);
        RememberFolder();
    }
    return true;
}

// The verdict behind the findings; returns the exit status. The counts:
// errors (where the worker starts, only when there are some), access
// findings when there are some, warnings, and notes where it starts.
static int Conclude(const char* iniFile, const char* program, const char* commandLine, bool starts)
{
    char shownIni[CheckLineSize], shownProgram[CheckLineSize], verdict[CheckLineSize * 2];
    ShowText(shownIni, sizeof shownIni, iniFile, strlen(iniFile), false);
    ShowText(shownProgram, sizeof shownProgram, program, strlen(program), false);
    int errors = FindingCount(FindingError), access = FindingCount(FindingAccess);
    char counts[160] = "", counted[48];
    size_t n = 0;
    if (errors || !starts)
        n += snprintf(counts + n, sizeof counts - n, "%s, ", Counted(counted, sizeof counted, errors, "error"));
    if (access)
        n += snprintf(counts + n, sizeof counts - n, "%s, ", Counted(counted, sizeof counted, access, "access finding"));
    n += snprintf(counts + n, sizeof counts - n, "%s",
                  Counted(counted, sizeof counted, FindingCount(FindingWarning), "warning"));
    if (starts)
        snprintf(counts + n, sizeof counts - n, ", %s", Counted(counted, sizeof counted, FindingCount(FindingNote), "note"));
    char where[MAX_PATH + 8] = "";
    if (Facts.directory[0])
        snprintf(where, sizeof where, " in %s", Facts.directory);
    if (starts)
        snprintf(verdict, sizeof verdict, "HOLVCHK: %s%s: the host would start the worker%s (%s)", Facts.name, where,
                 access             ? ", but a non-administrator can choose what it runs"
                 : AuditIncomplete  ? ", but who may change what it runs is not known whole (audit incomplete)"
                                    : "",
                 counts);
    else if (Facts.hostError)
        snprintf(verdict, sizeof verdict, "HOLVCHK: %s%s: the service manager would not start the host, error %lu "
                 "(%s)", Facts.name, where, (unsigned long)Facts.hostError, counts);
    else
        snprintf(verdict, sizeof verdict, "HOLVCHK: %s%s: the host would not start the worker, error %lu (%s)",
                 Facts.name, where, (unsigned long)Facts.startError, counts);
    ComposeReport(shownIni, shownProgram, commandLine, verdict);
    return !starts ? CheckDoesNotStart : access ? CheckStartsExposed : AuditIncomplete ? CheckAuditIncomplete : CheckStarts;
}

int CheckFolder(const char* name, const char* directory)
{
    ResetReport();
    AuditIncomplete = false;
    memset(&Facts, 0, sizeof Facts);
    Facts.name = name;
    RememberFolder();
    // The service manager's own rule for a name. Evidence: MS docs
    // CreateService (lpServiceName: at most 256 characters; forward-slash (/)
    // and backslash (\) are not valid service name characters).
    if (!name[0] || strlen(name) > 256 || strpbrk(name, "/\\"))
        return UsageReport("not a service name");
    bool known = false;
    for (int i = 0; i < ServiceNameCount; i++)
        known = known || strcmp(ServiceNames[i], name) == 0;

    ReadInstallation(name);
    // An own-process service runs the dispatch table's first entry whatever
    // its name; a shared one only under a name the table holds.
    // Evidence: MS docs SERVICE_TABLE_ENTRY (lpServiceName: ignored for
    // SERVICE_WIN32_OWN_PROCESS; names the service for a shared process);
    // ERROR_SERVICE_NOT_IN_EXE's text. Wine matches names: measured here.
    if (!known && Facts.installed && (Facts.installedType & SERVICE_WIN32_SHARE_PROCESS) && !Facts.hostError) {
        Facts.hostError = ERROR_SERVICE_NOT_IN_EXE;
    } else if (!known) {
        Finding(FindingNote, "%s is not a name of the host's dispatch table: Windows runs an own-process service "
                "under any name, with %s.ini and an event of its folder; Wine's service manager refuses it (the "
                "start fails with error 87)", name, name);
    }
    // A host the service manager cannot start works in no folder: none is
    // checked unless one is named, so no finding comes from an unrelated one.
    bool hostless = Facts.hostError && !directory;
    if (Facts.unnamedFolder && !directory)
        return UsageReport("the installed host's folder has letters this code page cannot write, so it has no name "
                           "here: go into it (cd) and name it as ., or give its short name (dir /x)");
    if (!hostless && !EnterFolder(directory)) {
        DWORD error = GetLastError();
        bool file = error == ERROR_DIRECTORY;
        snprintf(CheckOutput, sizeof CheckOutput, "HOLVCHK: %s%s %s (error %lu)\n", file ? "" : "the folder ",
                 directory ? directory : Facts.hostDirectory, file ? "is not a folder" : "does not exist",
                 (unsigned long)error);
        return CheckUsage;
    }

    LogSink = CaptureLog;
    CheckInstallation();
    if (hostless) {
        LogSink = NULL;
        Finding(FindingNote, "no folder is checked; to check the one the host should run in, name it: HOLVCHK %s "
                "DIRECTORY", name);
        return Conclude("none", "none", "none (the host does not run)", false);
    }
    CheckIniChoice(name);
    ReadIniOptions();
    CheckOptions();
    const char* program = CheckProgram();

    char line[CommandLineSize];
    size_t needed = BuildCommandLine(line, program, IniPath, Facts.interactive);
    bool fits = needed < CommandLineSize;
    char commandLine[CheckLineSize];
    if (fits) {
        snprintf(commandLine, sizeof commandLine, "%s", line);
        Finding(FindingNote, "the command line is %u of at most %u characters", (unsigned)needed,
                (unsigned)CommandLineSize - 1);
    } else {
        snprintf(commandLine, sizeof commandLine, "none (%u characters, over %u: error 206)", (unsigned)needed,
                 (unsigned)CommandLineSize - 1);
        Facts.startError = ERROR_FILENAME_EXCED_RANGE;
        Finding(FindingError, "the command line would be %u characters, over %u: the host refuses it and the start "
                "fails with error 206", (unsigned)needed, (unsigned)CommandLineSize - 1);
    }
    CheckShutdownEvent(name);
    CheckLog();
    CheckRecovery();
    CheckAccess(name);
    LogSink = NULL;
    return Conclude(IniPath, program, commandLine, fits && Facts.programFound && !Facts.hostError);
}
