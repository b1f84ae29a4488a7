// <windows.h> for the simulated build: the platform's names as the simulation
// declares them, and NULL as the real header gives it, so a header written
// for Windows (sdk/holvsvc_shutdown_event.h) compiles unchanged against it.
#pragma once

#include <cstddef>

#include "../../platform_sim.h"
