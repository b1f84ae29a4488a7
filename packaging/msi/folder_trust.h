// Whether a folder on the way to the package's install folder can be trusted
// with what the service runs as LocalSystem: the rule alone, over what was
// read of each folder, so that it is tested on the simulated platform.
#pragma once

#include "support/platform.h"

// What any user who logs on may do through a DACL: what it grants Everyone,
// Authenticated Users, Users or INTERACTIVE, less what it denies Everyone.
// A NULL DACL, or an entry of a type not known here, gives all.
DWORD OthersRights(PACL dacl);

enum FolderProblem {
    FolderFine,
    FolderReparse,         // a junction or symbolic link
    FolderForeignOwner,    // owned by someone who is not an administrator
    FolderRebuildable,     // others may remove it and make a folder in its place
    FolderOpenToOthers,    // the install folder: others may change its permissions
};

// The verdict on one existing folder: a reparse point or not, whether its
// owner is trusted, what others may do on it and on its parent, and whether
// it is the install folder itself (which the lock then sets).
FolderProblem JudgeFolder(bool reparse, bool ownerTrusted, DWORD onIt, DWORD onParent, bool installFolder);
