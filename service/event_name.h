// The shutdown event's name, derived from the working directory's text. Host
// and worker both include this, so a worker started in the host's directory
// finds the event the host signals.
#pragma once

#include "../support/platform.h"

#include <stddef.h>

enum { DirectoryBufferSize = 260, EventNameSize = 32 };

// XOR of the little-endian 32-bit words that cover `length` characters of the
// zero-filled buffer. A length past the buffer (the platform reports the size
// it would need) hashes the whole buffer and no further.
inline DWORD DirectoryHash(const char (&directory)[DirectoryBufferSize], DWORD length)
{
    DWORD words = (DWORD)(((size_t)length + 3) / 4);
    if (words > DirectoryBufferSize / 4)
        words = DirectoryBufferSize / 4;
    DWORD hash = 0;
    for (DWORD i = 0; i < words; i++) {
        const unsigned char* b = (const unsigned char*)directory + 4 * i;
        hash ^= (DWORD)b[0] | ((DWORD)b[1] << 8) | ((DWORD)b[2] << 16) | ((DWORD)b[3] << 24);
    }
    return hash;
}

// "HOLVSVCE_SHUTDOWN:<hash of the current directory>" into `name`.
inline void ShutdownEventName(char (&name)[EventNameSize])
{
    char directory[DirectoryBufferSize] = {0};
    DWORD length = GetCurrentDirectoryA(DirectoryBufferSize, directory);
    wsprintfA(name, "HOLVSVCE_SHUTDOWN:%u", (unsigned)DirectoryHash(directory, length));
}
