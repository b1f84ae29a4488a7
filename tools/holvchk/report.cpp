// The check's report: findings collected in order, then composed behind the
// three fixed lines and followed by the verdict.
#include "check.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

char CheckOutput[CheckOutputSize];

static char Findings[CheckOutputSize];
static size_t FindingsLength;
static int Counts[4];
static char FirstErrorText[CheckLineSize];

static const char* const Prefixes[] = {"error: ", "warning: ", "note: ", "access: "};

void ResetReport()
{
    Findings[0] = 0;
    FindingsLength = 0;
    memset(Counts, 0, sizeof Counts);
    FirstErrorText[0] = 0;
    CheckOutput[0] = 0;
}

void Finding(FindingKind kind, const char* format, ...)
{
    char line[CheckLineSize];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0)
        line[0] = 0;
    // A control byte from a file or a name (a line end inside quotes) must
    // not break the report's lines.
    char shown[CheckLineSize];
    ShowText(shown, sizeof shown, line, strlen(line), false);
    snprintf(line, sizeof line, "%s", shown);
    Counts[kind]++;
    if (kind == FindingError && !FirstErrorText[0])
        snprintf(FirstErrorText, sizeof FirstErrorText, "%s", line);
    int written = snprintf(Findings + FindingsLength, sizeof Findings - FindingsLength, "%s%s\n", Prefixes[kind], line);
    if (written > 0)
        FindingsLength += (size_t)written < sizeof Findings - FindingsLength ? (size_t)written
                                                                            : sizeof Findings - FindingsLength - 1;
}

int FindingCount(FindingKind kind) { return Counts[kind]; }

const char* FirstError() { return FirstErrorText; }

void ComposeReport(const char* iniFile, const char* program, const char* commandLine, const char* verdict)
{
    char shownLine[CheckLineSize], shownVerdict[CheckLineSize * 2];
    ShowText(shownLine, sizeof shownLine, commandLine, strlen(commandLine), false);
    ShowText(shownVerdict, sizeof shownVerdict, verdict, strlen(verdict), false);
    snprintf(CheckOutput, sizeof CheckOutput, "INI file: %s\nProgram: %s\nCommand line: %s\n%s%s\n", iniFile, program,
             shownLine, Findings, shownVerdict);
}

const char* Counted(char* out, size_t size, int count, const char* noun)
{
    snprintf(out, size, "%d %s%s", count, noun, count == 1 ? "" : "s");
    return out;
}

void ShowText(char* out, size_t size, const char* text, size_t length, bool escapeHigh)
{
    size_t at = 0;
    out[0] = 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)text[i];
        char piece[8];
        if (c < 0x20 || c == 0x7F || (escapeHigh && c >= 0x80))
            snprintf(piece, sizeof piece, "<%02X>", c);
        else
            snprintf(piece, sizeof piece, "%c", c);
        size_t n = strlen(piece);
        if (at + n + 4 > size) {
            snprintf(out + at, size - at, "...");
            return;
        }
        memcpy(out + at, piece, n + 1);
        at += n;
    }
}

void ShowFileTime(char* out, size_t size, const FILETIME& time)
{
    SYSTEMTIME t;
    if (!time.dwLowDateTime && !time.dwHighDateTime)
        snprintf(out, size, "missing");
    else if (!FileTimeToSystemTime(&time, &t))
        snprintf(out, size, "unknown");
    else
        snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                 t.wSecond);
}
