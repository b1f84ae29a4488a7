// The package's install folder: whether it can be trusted with what the
// service runs as LocalSystem.
#pragma once

#include <stddef.h>
#include <wchar.h>

enum { LockBeforeSize = 4096 };

// Why `folder` must not be installed into, into `why`; false when it may.
bool FolderRefusal(const wchar_t* folder, wchar_t* why, size_t size);
// What the lock will change, for its rollback, read before it runs (by
// HolvInspect): "FOLDER|FIRST|SDDL", FIRST the first folder on the way that
// does not exist yet (the lock makes it and all below it), SDDL the folder's
// own owner and DACL without what it inherits, empty when it does not exist.
void LockBefore(const wchar_t* folder, wchar_t* before, size_t size);
// HolvLockFolder's work, its log line into `text`; false when the folder
// was refused or its DACL could not be set.
bool LockFolder(wchar_t* folder, wchar_t* text, size_t size);
// The lock's rollback: the owner and DACL of before again, and the folders
// it made removed while they are empty. One line per step into `text`.
void UndoLock(const wchar_t* before, wchar_t* text, size_t size);
