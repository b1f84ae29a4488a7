// PrepareLaunch and the launch settings it fills.
#include "launch.h"
#include "launch_steps.h"

char IniPath[IniPathSize];
const char* ProgramPath;

void PrepareLaunch(const char* serviceName)
{
    SelectIniFile(serviceName);
    ReadIniOptions();
    RefreshWorkerProgram();
}
