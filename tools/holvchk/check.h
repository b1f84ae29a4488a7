// HOLVCHK: what HOLVSVC.EXE will do in a folder, found by running the host's
// own launch code there, with nothing written: no log, no copy, no start.
#pragma once

#include "support/platform.h"

#include <stddef.h>

#if defined(__GNUC__)
#define CHECK_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define CHECK_FORMAT(a, b)
#endif

enum {
    CheckOutputSize = 16384,
    CheckLineSize = 1024,
    BinaryPathSize = 1024,
};

// An access finding: someone who is not an administrator may change what
// the service runs.
enum FindingKind { FindingError, FindingWarning, FindingNote, FindingAccess };

// Exit statuses: the host would start the worker; it would not; wrong usage
// or a folder that does not exist; it would start it, but a non-administrator
// can choose what it runs; it would start it, and the audit of who may
// change that met a descriptor it cannot read whole.
enum { CheckStarts = 0, CheckDoesNotStart = 1, CheckUsage = 2, CheckStartsExposed = 3, CheckAuditIncomplete = 4 };
// Set by CheckAccess when an ACE's type was unknown to it.
extern bool AuditIncomplete;

// What the check learns on its way, for the steps that follow.
struct CheckFacts {
    const char* name;
    bool installed;
    DWORD installedType;
    // The type the host itself reads, from the service's status (the
    // configured one when that cannot be read); its interactive bit decides -c.
    DWORD reportedType;
    char binaryPath[BinaryPathSize];
    char hostDirectory[MAX_PATH];  // the folder the installed host moves to
    char imageDirectory[MAX_PATH]; // the folder its program lies in, searched first by a start
    bool runsHere;                 // the installed host runs in the checked folder
    char directory[MAX_PATH];      // the checked folder, as the platform spells it
    bool interactive;
    bool programFound;
    DWORD startError;  // what the start fails with; 0 when it succeeds
    char programFile[MAX_PATH];  // where the start finds the program
    // What the service manager's start of the host fails with, and why; 0
    // when the binary path names a file.
    DWORD hostError;
    const char* hostWhy;
    char hostImage[BinaryPathSize];  // where the service manager looks for it
    // The binary path holds '?', the ANSI code page's stand-in for a letter it
    // cannot write: the host's folder has no name HOLVCHK can enter.
    bool unnamedFolder;
    char account[257];  // the account it runs as, as configured
};
extern CheckFacts Facts;

// A SID as text (S-1-5-...).
void SidText(PSID sid, char* out, size_t size);

// The whole report, ready to print.
extern char CheckOutput[CheckOutputSize];

// Checks NAME in DIRECTORY (null: the installed service's folder, else the
// current one). Fills CheckOutput; returns the exit status.
int CheckFolder(const char* name, const char* directory);
// The usage text with what was wrong, into CheckOutput; returns CheckUsage.
int UsageReport(const char* problem);

// ---- the report
void ResetReport();
void Finding(FindingKind kind, const char* format, ...) CHECK_FORMAT(2, 3);
int FindingCount(FindingKind kind);
const char* FirstError();
// The fixed lines first, then the findings, then the verdict.
void ComposeReport(const char* iniFile, const char* program, const char* commandLine, const char* verdict);
// Text for a report line: control bytes as <XX>, and bytes 0x80 to 0xFF too
// when `escapeHigh`; cut with "..." to fit.
void ShowText(char* out, size_t size, const char* text, size_t length, bool escapeHigh);
// "1 warning", "2 warnings": the count and the noun, into `out`.
const char* Counted(char* out, size_t size, int count, const char* noun);
// "2026-12-09 10:00:00 UTC", or "missing" for time 0.
void ShowFileTime(char* out, size_t size, const FILETIME& time);

// ---- the steps, in the order CheckFolder runs them
// The service's installation: whether installed, its binary path and type,
// and the folder its host will move to.
void ReadInstallation(const char* name);
void CheckInstallation();
void CheckIniChoice(const char* name);
// After the host's ReadIniOptions: what it will never use, and the text's
// character set.
void CheckOptions();
// The refresh and the program as a start will look for it. Returns the program.
const char* CheckProgram();
void CheckShutdownEvent(const char* name);
void CheckLog();
void CheckRecovery();
// Who besides administrators may change what the service runs.
void CheckAccess(const char* name);

// Whether a path names a file, or a folder, as it stands now.
bool IsFile(const char* path);
bool IsDirectory(const char* path);
// The program file a service's binary path names: inside its quotes; without
// them, up to ".exe" where that ends a word, else the whole text.
void ImageOf(const char* binaryPath, char* out, size_t size);
// argument 0 as the C runtime takes it from a command line: up to the closing
// quote, or up to the first blank.
void ArgumentZero(const char* commandLine, char* out, size_t size);
// What a start of `image`, a program named with a path as the service
// manager names it, fails with: 0 when it is a file; else the error, why, and
// the file looked for. The service manager works in the system folder, so a
// path that does not begin at a root is taken from there. A bare name would
// be searched for along the PATH: not judged, 0.
DWORD HostImageError(const char* image, char* looked, size_t size, const char** why);
// The folder's text as the platform gives it once a process has moved there;
// false when it cannot move there. Comes back to the checked folder.
// The checked folder as a name that opens: its text, or "." where the text
// holds the code page's '?' for a letter it cannot write (HOLVCHK is in it).
const char* OpenableFolder();
// The folder HOLVCHK is in, kept to come back to it; and back into it after
// a visit to another.
void RememberFolder();
void ReturnToFolder();
bool SpelledAs(const char* folder, char* out, size_t size);
