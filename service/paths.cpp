// What the host derives from text alone: its folder from argument 0, the six
// names it serves, and the worker's command line.
#include "service.h"

#include <stdio.h>
#include <string.h>

char ServiceNames[ServiceNameCount][ServiceNameSize] = {
    "QuenraClient", "QuenraService", "KORVIService", "KORVIClient", "PlunwickService", "PlunwickClient",
};

void ExecutableDirectory(const char* argv0, char* out, size_t size)
{
    out[0] = 0;
    if (!argv0)
        return;
    size_t drive = (argv0[0] && argv0[1] == ':') ? 2 : 0;
    size_t end = drive;
    for (size_t i = drive; argv0[i]; i++)
        if (argv0[i] == '\\' || argv0[i] == '/')
            end = i + 1;
    // A directory that does not fit is not cut short into another one.
    if (end >= size)
        return;
    snprintf(out, size, "%.*s", (int)end, argv0);
}

size_t BuildCommandLine(char (&out)[CommandLineSize], const char* program, const char* iniPath, bool interactive)
{
    memset(out, 0, sizeof out);
    // A path with blanks is quoted, or the platform would split it and might
    // run another program (C:\Program.exe for C:\Program Files\...).
    bool quote = strpbrk(program, " \t") != NULL;
    size_t needed = strlen(program) + (quote ? 2 : 0) + 1 + strlen(iniPath) + (interactive ? 0 : 3);
    if (needed >= sizeof out)
        return needed;
    snprintf(out, sizeof out, quote ? "\"%s\" %s" : "%s %s", program, iniPath);
    if (!interactive)
        lstrcatA(out, " -c");
    return needed;
}
