// Launch settings: what the worker is started as, settled by PrepareLaunch.
#pragma once

enum { IniPathSize = 64 };

// The INI file handed to the worker; empty until PrepareLaunch runs.
extern char IniPath[IniPathSize];

// The worker program. Never owns text: it points into the INI text (the rest
// of an -e option) or at the fixed name "HOLV32IP.EXE". Null until set.
extern const char* ProgramPath;

// Chooses the INI file, reads its -e option and refreshes the worker program.
// Afterwards IniPath is never empty and ProgramPath never null.
void PrepareLaunch(const char* serviceName);
