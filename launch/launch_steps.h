// The steps of PrepareLaunch and the records they share: INI choice, INI
// option reader and worker program refresh.
#pragma once

#include "support/platform.h"

#include <stddef.h>

enum {
    IniTextSize = 256,       // at most 255 bytes of the file and a terminator
    IniTokenLimit = 20,      // options past the 20th token are ignored
    ComputerNameSize = 64,
};

// The INI file's text, cut into tokens in place. ProgramPath may point into it.
extern char IniText[IniTextSize];
// Characters of text in IniText: zero bytes from the file are part of the
// text, so its end is not found with strlen.
extern size_t IniTextLength;
// Where NextIniToken goes on when called without a start.
extern size_t IniCursor;
// The tokens the last ReadIniOptions collected, each inside IniText.
extern char* IniTokens[IniTokenLimit];
extern int IniTokenCount;
// Where the token began that an unclosed quote lost, with all text after it;
// null when none was lost.
extern char* IniDropped;

// Sets IniPath: the service's INI file, else the computer's, else HOLV32.INI.
void SelectIniFile(const char* serviceName);
// Writes "<name>.ini" into IniPath and tells whether such a file (not a
// directory) exists. A name too long for IniPath is refused and leaves
// IniPath empty rather than cut.
bool TryIniName(const char* name);

// Reads IniPath, collects its tokens and applies -e.
void ReadIniOptions();
// Turns each CR LF pair of text[0..length) into LF; returns the new length.
size_t FoldLineEnds(char* text, size_t length);
// The next token of IniText from start, or from the cursor when start is null;
// null when there are no more. A zero byte inside the text yields "".
char* NextIniToken(char* start);
// ProgramPath becomes the rest of the last "-e" token.
void ApplyProgramOption(char* const* tokens, int count);

// What the refresh finds and decides, before anything is changed.
struct RefreshPlan {
    const char* program;     // ProgramPath after the refresh
    bool targetNamed;        // an -e option named a target
    bool targetFound;
    FILETIME targetCreated;  // 0 when not found, earlier than any file
    bool localFound;         // HOLV32IP.EXE in the working directory
    FILETIME localCreated;
    bool copy;               // the local copy is newer: copied over the target
};

// The refresh's decision from ProgramPath and the two files' creation times.
// Searches, changes nothing.
void DecideRefresh(RefreshPlan* plan);
// Copies a newer local HOLV32IP.EXE over the -e target and settles ProgramPath.
void RefreshWorkerProgram();
