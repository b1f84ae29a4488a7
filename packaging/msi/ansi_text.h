// The package's text in the system's ANSI code page, which the host and the
// service manager's ANSI calls work in.
#pragma once

#include "../../support/platform.h"

// `text` in the ANSI code page into `out` (`size` bytes, terminator
// included); false when a character has no place there or it does not fit.
bool ToAnsi(const wchar_t* text, char* out, int size);
