// The named event that tells the worker to end.
#pragma once

#include "../support/platform.h"

// Opens the event of this directory, or creates it (manual reset, not
// signalled). Returns no handle when both fail; callers need not check.
HANDLE OpenShutdownEvent();
