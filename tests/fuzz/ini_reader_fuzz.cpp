// libFuzzer target: any INI file bytes through ReadIniOptions, checked for
// what the launch relies on.
//
// Invariants: the text is the file's first 255 bytes with CR LF folded to
// LF; at most 20 tokens, in order, each inside the text and starting with
// '-', except the empty token that a zero byte of the file stands for; a
// token that was not unquoted ends where the text has a byte up to 0x20 or
// ends, and without quotes holds no such byte (0x80 to 0xFF stay in tokens);
// ProgramPath is unset when no token begins with -e, else the rest of the
// last such token, inside IniText and at most 253 characters.
//
// Built by tests/CMakeLists.txt when clang++ is found; run with ctest -L fuzz.
#include "launch/launch.h"
#include "launch/launch_steps.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>

// The launch settings, which the host keeps beside PrepareLaunch.
char IniPath[IniPathSize];
const char* ProgramPath;

#define CHECK(condition)                                                     \
    do {                                                                     \
        if (!(condition)) {                                                  \
            fprintf(stderr, "invariant failed: %s (line %d)\n", #condition, __LINE__); \
            abort();                                                         \
        }                                                                    \
    } while (0)

// Absolute, so the corpus folders named on the command line stay relative to
// where the fuzzer was started.
static char WorkDir[48];
static char IniFile[IniPathSize];

static void RemoveWorkDir()
{
    unlink(IniFile);
    rmdir(WorkDir);
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // In memory where there is a tmpfs: rewriting a file on ext4 is slow.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(WorkDir, sizeof WorkDir, "%s/holvfuzz-XXXXXX", base);
    if (!mkdtemp(WorkDir))
        abort();
    snprintf(IniFile, sizeof IniFile, "%s/FUZZ.INI", WorkDir);
    atexit(RemoveWorkDir);
    return 0;
}

static std::string ExpectedText(const uint8_t* data, size_t size)
{
    std::string bytes((const char*)data, size < 255 ? size : 255);
    std::string text;
    for (size_t i = 0; i < bytes.size(); i++)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += bytes[i];
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* file = fopen(IniFile, "wb");
    if (!file)
        abort();
    fwrite(data, 1, size, file);
    fclose(file);

    // Anything past the text is '-', so reading beyond its end shows as tokens.
    memset(IniText, '-', sizeof IniText);
    IniTextLength = 0;
    IniCursor = 0;
    memset(IniTokens, 0, sizeof IniTokens);
    IniTokenCount = 0;
    ProgramPath = NULL;
    snprintf(IniPath, sizeof IniPath, "%s", IniFile);

    ReadIniOptions();

    std::string text = ExpectedText(data, size);
    CHECK(IniTextLength == text.size());
    CHECK(IniText[IniTextLength] == 0);
    CHECK(IniTokenCount >= 0 && IniTokenCount <= IniTokenLimit);

    const char* end = IniText + IniTextLength;
    const char* previousEnd = NULL;
    const char* lastE = NULL;
    for (int i = 0; i < IniTokenCount; i++) {
        const char* token = IniTokens[i];
        CHECK(token >= IniText && token < end);
        size_t length = strnlen(token, (size_t)(end - token) + 1);
        CHECK(token + length <= end);
        CHECK(previousEnd == NULL || token > previousEnd);
        previousEnd = token + length;
        if (length == 0) {
            CHECK(text[(size_t)(token - IniText)] == 0);
            continue;
        }
        CHECK(token[0] == '-');
        // Unquoting may leave blanks in a token whose third character was a quote.
        size_t at = (size_t)(token - IniText);
        bool unquoted = at + 2 < text.size() && text[at + 2] == '"';
        if (!unquoted) {
            // Cut in place at a blank, a control byte or the end of the text.
            CHECK(at + length == text.size() || (unsigned char)text[at + length] <= ' ');
            if (!memchr(token, '"', length))
                for (size_t k = 0; k < length; k++)
                    CHECK((unsigned char)token[k] > ' ');
        }
        if (length >= 2 && token[1] == 'e')
            lastE = token;
    }
    if (!lastE) {
        CHECK(ProgramPath == NULL);
    } else {
        CHECK(ProgramPath == lastE + 2);
        CHECK(ProgramPath >= IniText && ProgramPath <= end);
        CHECK(strlen(ProgramPath) <= 253);
    }
    return 0;
}
