// The package's rule for a folder on the way to its install folder.
#include "packaging/msi/folder_trust.h"

#include <string.h>

// The SIDs of Everyone, Authenticated Users, Users and INTERACTIVE, in
// binary form: any user who logs on holds them.
static const BYTE Everyone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
static const BYTE Authenticated[] = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};
static const BYTE Users[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
static const BYTE Interactive[] = {1, 1, 0, 0, 0, 0, 0, 5, 4, 0, 0, 0};

// A SID's length is in its sub-authority count: compare that first, so a
// shorter SID at the end of the list is never read past.
static bool SameSid(const BYTE* sid, const BYTE* known, size_t size)
{
    return 8u + 4u * sid[1] == size && memcmp(sid, known, size) == 0;
}

// Every kind of allow grants (a condition may hold); only the plain deny
// takes away. Evidence: MS docs ACE_HEADER (the types), "How DACLs Control
// Access to an Object", ACCESS_ALLOWED_OBJECT_ACE (where the SID lies);
// GetEffectiveRightsFromAcl is a stub under Wine, so the entries are read here.
DWORD OthersRights(PACL dacl)
{
    const DWORD all = 0x1f01ff;  // FILE_ALL_ACCESS
    if (!dacl)
        return all;
    DWORD granted = 0, denied = 0;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        LPVOID at;
        if (!GetAce(dacl, i, &at))
            return all;
        const BYTE* ace = (const BYTE*)at;
        BYTE type = ace[0];
        if (ace[1] & INHERIT_ONLY_ACE)
            continue;
        if (type > 0x15 || type == 0x4) {  // unknown here: no trust
            granted |= all & ~denied;
            continue;
        }
        bool allow = type == 0x0 || type == 0x5 || type == 0x9 || type == 0xB;
        if (!allow && type != 0x1)
            continue;
        const BYTE* sid = ace + 8;
        if (type == 0x5 || type == 0xB) {
            DWORD flags;
            memcpy(&flags, sid, sizeof flags);
            sid += 4 + (flags & 1 ? 16 : 0) + (flags & 2 ? 16 : 0);
        }
        WORD aceSize = (WORD)(ace[2] | ace[3] << 8);
        if (sid + 8 > ace + aceSize || sid + 8 + 4u * sid[1] > ace + aceSize) {  // malformed: no trust
            if (allow)
                granted |= all & ~denied;
            continue;
        }
        bool matches = SameSid(sid, Everyone, sizeof Everyone) ||
                       (allow && (SameSid(sid, Authenticated, sizeof Authenticated) ||
                                  SameSid(sid, Users, sizeof Users) || SameSid(sid, Interactive, sizeof Interactive)));
        if (!matches)
            continue;
        DWORD mask;
        memcpy(&mask, ace + 4, sizeof mask);
        // The file object's generic mapping. Evidence: MS docs "File Security
        // and Access Rights".
        DWORD mapped = mask & 0x00FFFFFF;
        if (mask & GENERIC_READ)
            mapped |= 0x120089;
        if (mask & GENERIC_WRITE)
            mapped |= 0x120116;
        if (mask & GENERIC_EXECUTE)
            mapped |= 0x1200a0;
        if (mask & GENERIC_ALL)
            mapped |= all;
        if (allow)
            granted |= mapped & ~denied;
        else
            denied |= mapped & ~granted;
    }
    return granted;
}

// Whoever may remove a folder (DELETE on it, or "delete what is in it" on the
// parent, or either's DACL or owner) and make a folder in the parent puts a
// folder of their own in its place. A handle opened with WRITE_DAC or
// WRITE_OWNER keeps that right after the lock. Evidence: MS docs "File
// Security and Access Rights", "Reparse Points", SetSecurityInfo (rights are
// checked when a handle is opened).
FolderProblem JudgeFolder(bool reparse, bool ownerTrusted, DWORD onIt, DWORD onParent, bool installFolder)
{
    const DWORD changeAcl = WRITE_DAC | WRITE_OWNER;
    if (reparse)
        return FolderReparse;
    if (!ownerTrusted)
        return FolderForeignOwner;
    bool remove = (onIt & (DELETE | changeAcl)) || (onParent & (FILE_DELETE_CHILD | changeAcl));
    bool rebuild = (onParent & (FILE_ADD_SUBDIRECTORY | changeAcl)) != 0;
    if (remove && rebuild)
        return FolderRebuildable;
    if (installFolder && (onIt & changeAcl))
        return FolderOpenToOthers;
    return FolderFine;
}
