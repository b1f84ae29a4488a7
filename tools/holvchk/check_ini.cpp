// The INI file: which one the host chooses and why the others were passed
// over, what of its text the host will never use, and its character set.
#include "check.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"

#include <stdio.h>
#include <string.h>

enum { FileBytesSize = 4096, NamedTokens = 8 };

// The INI file as it lies on disk, beyond what the host reads of it.
static char FileBytes[FileBytesSize];
static size_t FileLength;
static bool FileLonger;  // more than FileBytesSize bytes

// Why TryIniName passed over the candidate it was given.
static void PassedOver(const char* kind, const char* name)
{
    if (!IniPath[0]) {
        Finding(FindingNote, "INI candidate %s.ini (%s): passed over, the name is too long (over 63 characters)",
                name, kind);
        return;
    }
    DWORD attributes = GetFileAttributesA(IniPath);
    Finding(FindingNote, "INI candidate %s (%s): passed over, %s", IniPath, kind,
            attributes == INVALID_FILE_ATTRIBUTES ? "missing" : "it is a directory");
}

void CheckIniChoice(const char* name)
{
    // The explanation asks TryIniName candidate by candidate; the choice
    // itself is SelectIniFile's, run last.
    bool chosen = TryIniName(name);
    if (chosen) {
        Finding(FindingNote, "INI candidate %s (service name): chosen", IniPath);
    } else {
        PassedOver("service name", name);
        char computer[ComputerNameSize];
        DWORD size = ComputerNameSize;
        if (!GetComputerNameA(computer, &size)) {
            Finding(FindingNote, "the computer name cannot be read (error %lu): no computer-name candidate",
                    (unsigned long)GetLastError());
        } else if (TryIniName(computer)) {
            chosen = true;
            Finding(FindingNote, "INI candidate %s (computer name): chosen", IniPath);
        } else {
            PassedOver("computer name", computer);
        }
        if (!chosen)
            Finding(FindingNote, "INI candidate HOLV32.INI (default): chosen, whether it exists or not");
    }
    SelectIniFile(name);

    FileLength = 0;
    FileLonger = false;
    FILE* file = fopen(IniPath, "rb");
    if (file) {
        FileLength = fread(FileBytes, 1, sizeof FileBytes, file);
        FileLonger = FileLength == sizeof FileBytes && fgetc(file) != EOF;
        fclose(file);
    }
}

// Appends a token to a blank-separated list, as far as it fits.
static void AppendToken(char* list, size_t size, const char* token)
{
    char shown[CheckLineSize];
    ShowText(shown, sizeof shown, token, strlen(token), false);
    size_t used = strlen(list);
    snprintf(list + used, size - used, "%s%s", used ? " " : "", shown);
}

static bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// Tokens the host's reader finds in more text, named in a list after the
// `named` already there; returns how many it found.
static int NameTokens(char* first, char* list, size_t size, int named)
{
    int count = 0;
    for (char* token = NextIniToken(first); token; token = NextIniToken(NULL)) {
        if (!token[0])
            continue;
        if (named + count < NamedTokens)
            AppendToken(list, size, token);
        count++;
    }
    return count;
}

static bool HasByteOrderMark() { return FileLength >= 3 && memcmp(FileBytes, "\xEF\xBB\xBF", 3) == 0; }

// Options that begin inside a word: "the-end" gives "-end". A byte-order
// mark is no word: it has a warning of its own.
static void CheckWordOptions()
{
    size_t start = HasByteOrderMark() ? 3 : 0;
    for (int i = 0; i < IniTokenCount; i++) {
        const char* token = IniTokens[i];
        size_t at = (size_t)(token - IniText);
        if (!token[0] || at <= start || (unsigned char)IniText[at - 1] <= ' ')
            continue;
        size_t word = at;
        while (word > start && (unsigned char)IniText[word - 1] > ' ')
            word--;
        char before[CheckLineSize];
        ShowText(before, sizeof before, IniText + word, at - word, false);
        Finding(FindingWarning, "the option %s comes from inside the word %s%s: a minus sign inside any word starts "
                "an option%s", token, before, token,
                StartsWith(token, "-e") ? ", and this one names the program" : "");
    }
}

static bool HoldsUtf8(const char* text)
{
    const unsigned char* p = (const unsigned char*)text;
    for (; *p; p++) {
        int follow = (*p >= 0xC2 && *p <= 0xDF) ? 1 : (*p >= 0xE0 && *p <= 0xEF) ? 2 : (*p >= 0xF0 && *p <= 0xF4) ? 3 : 0;
        if (!follow)
            continue;
        int i = 1;
        while (i <= follow && p[i] >= 0x80 && p[i] <= 0xBF)
            i++;
        if (i > follow)
            return true;
    }
    return false;
}

// An unquoted -e path ends at the first blank: what follows it on the line,
// up to the next blank, is no option and never read.
static void CheckCutPath()
{
    if (!ProgramPath || !ProgramPath[0])
        return;
    // The text as the reader saw it before it cut tokens in place.
    char text[IniTextSize];
    size_t take = FileLength < IniTextSize - 1 ? FileLength : IniTextSize - 1;
    memcpy(text, FileBytes, take);
    size_t length = FoldLineEnds(text, take);
    size_t option = (size_t)(ProgramPath - IniText) - 2, end = option + 2 + strlen(ProgramPath);
    if (text[option + 2] == '"' || end >= length || (text[end] != ' ' && text[end] != '\t'))
        return;
    // An -e from inside a word (a comment's "re-enable the") has a warning
    // of its own, and quotes are no remedy for it.
    if (option > (HasByteOrderMark() ? 3u : 0u) && (unsigned char)text[option - 1] > ' ')
        return;
    size_t word = end;
    while (word < length && (text[word] == ' ' || text[word] == '\t'))
        word++;
    size_t wordEnd = word;
    while (wordEnd < length && (unsigned char)text[wordEnd] > ' ')
        wordEnd++;
    if (word == wordEnd || text[word] == '-')
        return;
    char rest[CheckLineSize];
    ShowText(rest, sizeof rest, text + word, wordEnd - word, false);
    Finding(FindingWarning, "the -e path ends at the blank after %s: the host takes %s as the program and never "
            "reads %s; a path with blanks needs quotes: -e\"%.*s\"", ProgramPath, ProgramPath, rest,
            (int)(wordEnd - (option + 2)), text + option + 2);
}

// Names the options in bytes the host never reads, from `from` on: window by
// window through the host's own reader, each window ending at a blank or
// line end so that it cuts no unquoted option, or where a quoted one began.
static int NameUnreadTokens(size_t from, char* list, size_t size)
{
    int count = 0;
    while (from < FileLength) {
        size_t take = FileLength - from < IniTextSize - 1 ? FileLength - from : IniTextSize - 1;
        bool last = from + take == FileLength;
        if (!last) {
            size_t cut = take;
            while (cut > 0 && (unsigned char)FileBytes[from + cut - 1] > ' ')
                cut--;
            if (cut > 0)
                take = cut;
        }
        memcpy(IniText, FileBytes + from, take);
        IniTextLength = FoldLineEnds(IniText, take);
        IniText[IniTextLength] = 0;
        count += NameTokens(IniText, list, size, count);
        size_t next = from + take;
        if (IniDropped && !last && IniDropped > IniText) {
            // Back to where the quoted option began: the file offset of a
            // folded position counts the CRs folded before it.
            size_t folded = (size_t)(IniDropped - IniText), offset = 0;
            for (size_t f = 0; f < folded; offset++)
                if (!(FileBytes[from + offset] == '\r' && offset + 1 < take && FileBytes[from + offset + 1] == '\n'))
                    f++;
            next = from + offset;
        }
        IniDropped = NULL;
        from = next;
    }
    if (count > NamedTokens)
        AppendToken(list, size, "...");
    return count;
}

void CheckOptions()
{
    char list[CheckLineSize];
    if (HasByteOrderMark())
        Finding(FindingWarning, "%s begins with a UTF-8 byte-order mark: the host reads it in the ANSI code page; "
                "save it as ANSI", IniPath);

    // Each -e the host sees, and which of them counts.
    int programOptions = 0;
    list[0] = 0;
    for (int i = 0; i < IniTokenCount; i++) {
        if (StartsWith(IniTokens[i], "-E"))
            Finding(FindingWarning, "%s is not the program option: only a lowercase -e is", IniTokens[i]);
        if (StartsWith(IniTokens[i], "-e")) {
            programOptions++;
            if (IniTokens[i] + 2 != ProgramPath)
                AppendToken(list, sizeof list, IniTokens[i]);
        }
    }
    if (programOptions > 1)
        Finding(FindingWarning, "%d -e options: the last one counts, -e%s; the host ignores %s", programOptions,
                ProgramPath, list);
    if (ProgramPath && !ProgramPath[0])
        Finding(FindingWarning, "the -e option names no program (a space after -e ends it): the host starts "
                "HOLV32IP.EXE");
    CheckCutPath();
    if (ProgramPath && HoldsUtf8(ProgramPath)) {
        char shown[CheckLineSize];
        ShowText(shown, sizeof shown, ProgramPath, strlen(ProgramPath), true);
        Finding(FindingWarning, "the -e path holds UTF-8 sequences, but the host reads the ANSI code page: it looks "
                "for %s (bytes shown as <XX>)", shown);
    }
    CheckWordOptions();

    if (IniDropped) {
        char swallowed[CheckLineSize];
        ShowText(swallowed, 120, IniDropped, IniTextLength - (size_t)(IniDropped - IniText), false);
        Finding(FindingWarning, "an unclosed quote at character %u drops the rest of the text: %s",
                (unsigned)(IniDropped - IniText) + 1, swallowed);
    }

    // The reader stopped at 20 tokens; the same reader names what follows.
    if (IniTokenCount == IniTokenLimit) {
        list[0] = 0;
        int more = NameTokens(NULL, list, sizeof list, 0);
        if (more > NamedTokens)
            AppendToken(list, sizeof list, "...");
        if (more)
            Finding(FindingWarning, "options past the 20th are ignored: %s", list);
    }

    // Bytes past the 255th, read by the same reader into its own buffer,
    // which is put back afterwards: ProgramPath points into it.
    if (FileLength > IniTextSize - 1) {
        char saved[IniTextSize];
        memcpy(saved, IniText, sizeof saved);
        size_t savedLength = IniTextLength, savedCursor = IniCursor;
        char* savedDropped = IniDropped;
        size_t rest = FileLength - (IniTextSize - 1);
        list[0] = 0;
        int found = NameUnreadTokens(IniTextSize - 1, list, sizeof list);
        if (FileLonger)
            AppendToken(list, sizeof list, "(and further text)");
        if (found)
            Finding(FindingWarning, "%s%lu bytes past byte 255 are never read; options there: %s",
                    FileLonger ? "more than " : "", (unsigned long)rest, list);
        else
            Finding(FindingNote, "%s%lu bytes past byte 255 are never read (no options among %s)",
                    FileLonger ? "more than " : "", (unsigned long)rest, FileLonger ? "the first 4096" : "them");
        memcpy(IniText, saved, sizeof saved);
        IniTextLength = savedLength;
        IniCursor = savedCursor;
        IniDropped = savedDropped;
    }
}
