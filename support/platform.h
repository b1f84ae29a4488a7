// The one header of platform operations: Win32 itself on Windows, a simulated
// platform with the same names, types and constants everywhere else.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform_sim.h"
#endif
