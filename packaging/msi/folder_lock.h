// The package's install folder: whether it can be trusted with what the
// service runs as LocalSystem.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Why `folder` must not be installed into, into `why`; false when it may.
bool FolderRefusal(const wchar_t* folder, wchar_t* why, size_t size);
