// Chooses the INI file: named after the service, else the computer, else HOLV32.INI.
#include "launch.h"
#include "launch_steps.h"

#include "support/platform.h"

#include <stdio.h>

bool TryIniName(const char* name)
{
    if (!name || !name[0])
        return false;
    int n = snprintf(IniPath, sizeof IniPath, "%s.ini", name);
    if (n < 0 || n >= (int)sizeof IniPath) {
        // A cut candidate could name another, existing file.
        IniPath[0] = 0;
        return false;
    }
    // A missing entry reports all bits set, the directory bit among them.
    DWORD attributes = GetFileAttributesA(IniPath);
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void SelectIniFile(const char* serviceName)
{
    if (TryIniName(serviceName))
        return;
    char computerName[ComputerNameSize];
    DWORD size = ComputerNameSize;
    if (GetComputerNameA(computerName, &size) && TryIniName(computerName))
        return;
    snprintf(IniPath, sizeof IniPath, "%s", "HOLV32.INI");
}
