// PrepareLaunch and the launch settings it fills.
#include "launch.h"

#include <stdio.h>

char IniPath[IniPathSize];
const char* ProgramPath;

void PrepareLaunch(const char* serviceName)
{
    (void)serviceName;
    snprintf(IniPath, sizeof IniPath, "%s", "HOLV32.INI");
    ProgramPath = "HOLV32IP.EXE";
}
