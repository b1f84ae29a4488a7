// The shutdown event's name, derived from the working directory's text, under
// the names the host's C++ code and its tests use. The computation itself is
// sdk/holvsvc_shutdown_event.h, the header shipped to worker authors, so host
// and worker cannot disagree.
#pragma once

#include "../support/platform.h"
#include "../sdk/holvsvc_shutdown_event.h"

enum { DirectoryBufferSize = HOLV_DIRECTORY_BUFFER_SIZE, EventNameSize = HOLV_EVENT_NAME_SIZE };

// XOR of the little-endian 32-bit words that cover `length` characters of the
// zero-filled buffer. A length past the buffer (the platform reports the size
// it would need) hashes the whole buffer and no further.
inline DWORD DirectoryHash(const char (&directory)[DirectoryBufferSize], DWORD length)
{
    return HolvDirectoryHash(directory, length);
}

// "HOLVSVCE_SHUTDOWN:<hash of the current directory>" into `name`.
inline void ShutdownEventName(char (&name)[EventNameSize])
{
    HolvShutdownEventName(name);
}
