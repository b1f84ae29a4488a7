// Reads the INI file's options: tokens that begin with a minus sign, of which -e names the worker.
#include "launch.h"
#include "launch_steps.h"

#include "support/log.h"

#include <stdio.h>
#include <string.h>

char IniText[IniTextSize];
size_t IniTextLength;
size_t IniCursor;
char* IniTokens[IniTokenLimit];
int IniTokenCount;
char* IniDropped;

size_t FoldLineEnds(char* text, size_t length)
{
    // Done here rather than by a text-mode read, so every runtime reads the
    // file alike.
    size_t out = 0;
    for (size_t in = 0; in < length; in++) {
        if (text[in] == '\r' && in + 1 < length && text[in + 1] == '\n')
            continue;
        text[out++] = text[in];
    }
    return out;
}

// Blanks and control characters end a token. Bytes 0x80 to 0xFF do not: they
// are letters in paths such as C:\Dienste\Überwachung\W.EXE.
static bool EndsToken(char c)
{
    return (unsigned char)c <= ' ';
}

char* NextIniToken(char* start)
{
    size_t end = IniTextLength;  // IniText[end] is the terminator
    size_t at = start ? (size_t)(start - IniText) : IniCursor;
    if (at > end)
        at = end;

    while (at < end && IniText[at] != '-' && IniText[at] != 0)
        at++;
    if (at >= end) {
        IniCursor = end;
        return NULL;
    }
    if (IniText[at] == 0) {
        // A zero byte from the file stands for one empty token.
        IniCursor = at + 1;
        return IniText + at;
    }

    size_t scan = at;
    bool quoted = false;
    while (scan < end && IniText[scan] != 0) {
        char c = IniText[scan];
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && EndsToken(c))
            break;
        scan++;
    }
    if (quoted) {
        // An unclosed quote loses the token and all that follows it.
        IniDropped = IniText + at;
        IniCursor = end;
        return NULL;
    }
    IniText[scan] = 0;
    IniCursor = scan < end ? scan + 1 : end;
    return IniText + at;
}

// -e"C:\Program Files\W.EXE" becomes -eC:\Program Files\W.EXE: the quotes only
// keep the blanks in the path.
static void Unquote(char* token)
{
    // Checked in order: a token of one or two characters has no third.
    if (token[0] == 0 || token[1] == 0 || token[2] != '"')
        return;
    char* close = strchr(token + 3, '"');
    if (!close)
        return;
    *close = 0;
    memmove(token + 2, token + 3, (size_t)(close - (token + 3)) + 1);
}

void ApplyProgramOption(char* const* tokens, int count)
{
    for (int i = 0; i < count; i++)
        if (tokens[i][0] == '-' && tokens[i][1] == 'e')
            ProgramPath = tokens[i] + 2;
}

void ReadIniOptions()
{
    IniTokenCount = 0;
    IniDropped = NULL;
    FILE* file = fopen(IniPath, "rb");
    if (!file) {
        LogMessage("Failed to open ini file %s", IniPath);
        return;
    }
    size_t read = fread(IniText, 1, IniTextSize - 1, file);
    // Some runtimes open a directory; reading it then fails. It is no more an
    // INI file than a missing one.
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) {
        IniTextLength = 0;
        IniText[0] = 0;
        LogMessage("Failed to open ini file %s", IniPath);
        return;
    }
    IniTextLength = FoldLineEnds(IniText, read);
    IniText[IniTextLength] = 0;

    for (char* token = NextIniToken(IniText); token; token = NextIniToken(NULL)) {
        Unquote(token);
        IniTokens[IniTokenCount++] = token;
        if (IniTokenCount == IniTokenLimit)
            break;
    }
    if (IniTokenCount > 0)
        ApplyProgramOption(IniTokens, IniTokenCount);
}
