// HOLVMSI.DLL's HolvLockFolder (deferred, as LocalSystem, before any file is
// installed): the folder named in CustomActionData gets Administrators as its
// owner and a protected DACL, SYSTEM and Administrators full control, Users
// read and execute, nothing inherited from its parent. The service runs what
// that folder holds, so no one else may put anything there.
//
// A folder that does not exist yet is created with that descriptor, and so
// is every missing folder above it, so none is ever open, even for a moment.
// The DACL of one that exists is set again through a handle that does not
// follow a junction, and logged when it was another; what lies in it keeps
// its bytes (Windows passes the new inheritable entries on to it). A DACL
// that cannot be set fails the installation.
//
// FolderRefusal, also run by HolvInspect before anything changes, refuses a
// folder the lock cannot make safe: a junction or symbolic link on the way, a
// folder on the way that belongs to someone who is not an administrator, one
// that someone else may rename or delete and build again (the service would
// run what they put in its place), and an existing folder on which someone
// else holds WRITE_DAC or WRITE_OWNER (a handle they opened before keeps those
// rights after the lock). The package changes no folder above its own.
//
// Its rollback (HolvLockFolderRollback) puts back the owner and DACL of the
// folder as HolvInspect read them, and removes the folders the lock made,
// deepest first, while they are empty.
#include "packaging/msi/folder_lock.h"

#include "support/platform.h"

#ifdef _WIN32
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>
#endif

#include <stdio.h>
#include <wchar.h>

#include "packaging/msi/folder_trust.h"

enum {
    PathSize = 1024,
    MessageSize = 4096,
    AclBufferSize = 512,
    InheritBoth = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
    ReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
};

static const wchar_t LockText[] = L"SYSTEM and Administrators full control, Users read and execute, nothing inherited";

static BYTE SystemSid[SECURITY_MAX_SID_SIZE], AdministratorsSid[SECURITY_MAX_SID_SIZE],
    UsersSid[SECURITY_MAX_SID_SIZE];
static BYTE AclBuffer[AclBufferSize];
static SECURITY_DESCRIPTOR Lock;

static bool WellKnown(WELL_KNOWN_SID_TYPE type, BYTE* sid)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    return CreateWellKnownSid(type, NULL, sid, &size) != FALSE;
}

// The descriptor every install folder gets, in a static record.
static bool BuildLock()
{
    PACL acl = (PACL)AclBuffer;
    return WellKnown(WinLocalSystemSid, SystemSid) && WellKnown(WinBuiltinAdministratorsSid, AdministratorsSid) &&
           WellKnown(WinBuiltinUsersSid, UsersSid) && InitializeAcl(acl, sizeof AclBuffer, ACL_REVISION) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, InheritBoth, FILE_ALL_ACCESS, SystemSid) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, InheritBoth, FILE_ALL_ACCESS, AdministratorsSid) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, InheritBoth, ReadAndExecute, UsersSid) &&
           InitializeSecurityDescriptor(&Lock, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorOwner(&Lock, AdministratorsSid, FALSE) &&
           SetSecurityDescriptorDacl(&Lock, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&Lock, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// Whether a folder's descriptor already is the lock: the owner, the
// protection and the three entries (inherited or not, the same).
static bool IsLock(PSECURITY_DESCRIPTOR descriptor, PSID owner, PACL dacl)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision;
    if (!owner || !EqualSid(owner, AdministratorsSid) || !dacl || dacl->AceCount != 3 ||
        !GetSecurityDescriptorControl(descriptor, &control, &revision) || !(control & SE_DACL_PROTECTED))
        return false;
    const PSID sids[] = {SystemSid, AdministratorsSid, UsersSid};
    const DWORD masks[] = {FILE_ALL_ACCESS, FILE_ALL_ACCESS, ReadAndExecute};
    for (DWORD i = 0; i < 3; i++) {
        ACCESS_ALLOWED_ACE* ace;
        if (!GetAce(dacl, i, (LPVOID*)&ace) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (ace->Header.AceFlags & ~INHERITED_ACE) != InheritBoth || ace->Mask != masks[i] ||
            !EqualSid(&ace->SidStart, sids[i]))
            return false;
    }
    return true;
}

// Taking ownership and writing a descriptor whatever the DACL says: the
// privileges LocalSystem holds, switched on where they are off.
static void EnablePrivileges()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    const wchar_t* const names[] = {L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege", L"SeBackupPrivilege"};
    for (const wchar_t* name : names) {
        TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueW(NULL, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    }
    CloseHandle(token);
}

// Past the root: "C:\" or "\\server\share\".
static size_t RootLength(const wchar_t* path)
{
    size_t start = 3;
    if (path[0] == L'\\' && path[1] == L'\\') {
        int slashes = 0;
        for (start = 2; path[start] && slashes < 2; start++)
            slashes += path[start] == L'\\';
    }
    return start;
}

// The folders above it, as they would be made by anyone; then the folder
// itself, locked from its first moment.
static bool CreateLocked(wchar_t* folder)
{
    size_t start = RootLength(folder);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &Lock, FALSE};
    for (size_t i = start; folder[i]; i++) {
        if (folder[i] != L'\\')
            continue;
        folder[i] = 0;
        CreateDirectoryW(folder, &attributes);
        folder[i] = L'\\';
    }
    return CreateDirectoryW(folder, &attributes) != FALSE;
}

// The lock, set through a handle opened without following a reparse point
// and checked to be the folder itself: the name is not looked up again
// between the check and the change. Backup semantics with the restore and
// take-ownership privileges open it whatever its DACL says; no delete
// sharing keeps it from being renamed while the handle is open.
// Evidence: MS docs CreateFile (FILE_FLAG_OPEN_REPARSE_POINT,
// FILE_FLAG_BACKUP_SEMANTICS), SetSecurityInfo, GetFileInformationByHandle.
static DWORD SetLock(const wchar_t* folder, PSECURITY_DESCRIPTOR* before, PSID* owner, PACL* dacl)
{
    HANDLE handle = CreateFileW(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = ERROR_SUCCESS;
    if (!GetFileInformationByHandle(handle, &info))
        error = GetLastError();
    else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        error = ERROR_DIRECTORY;
    if (!error)
        GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, owner, NULL,
                        dacl, NULL, before);
    const SECURITY_INFORMATION all =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (!error)
        error = SetSecurityInfo(handle, SE_FILE_OBJECT, all, AdministratorsSid, NULL, (PACL)AclBuffer, NULL);
    CloseHandle(handle);
    return error;
}

// ---- whether a folder can be trusted

static BYTE TrustedInstallerSid[SECURITY_MAX_SID_SIZE];

// SYSTEM, Administrators, TrustedInstaller, whoever runs this when an
// administrator (a folder an administrator made without elevation is theirs),
// and the members of the local Administrators group.
static bool IsTrustedOwner(PSID owner)
{
    if (!owner)
        return false;
    if (EqualSid(owner, SystemSid) || EqualSid(owner, AdministratorsSid) || EqualSid(owner, TrustedInstallerSid))
        return true;
    BOOL member = FALSE;
    HANDLE token;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) ||
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD needed;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &needed) &&
            EqualSid(((TOKEN_USER*)buffer)->User.Sid, owner))
            CheckTokenMembership(NULL, AdministratorsSid, &member);
        CloseHandle(token);
    }
    if (member)
        return true;
    wchar_t group[256], domain[256];
    DWORD groupSize = 256, domainSize = 256;
    SID_NAME_USE use;
    LPBYTE members = NULL;
    DWORD read = 0, total = 0;
    if (LookupAccountSidW(NULL, AdministratorsSid, group, &groupSize, domain, &domainSize, &use) &&
        NetLocalGroupGetMembers(NULL, group, 0, &members, MAX_PREFERRED_LENGTH, &read, &total, NULL) == NERR_Success)
        for (DWORD i = 0; i < read && !member; i++)
            member = EqualSid(((LOCALGROUP_MEMBERS_INFO_0*)members)[i].lgrmi0_sid, owner);
    if (members)
        NetApiBufferFree(members);
    return member != FALSE;
}

struct FolderFacts {
    PSECURITY_DESCRIPTOR descriptor;
    PSID owner;
    PACL dacl;
};

static bool ReadFolder(const wchar_t* path, FolderFacts* f)
{
    f->descriptor = NULL;
    return GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 &f->owner, NULL, &f->dacl, NULL, &f->descriptor) == ERROR_SUCCESS;
}

static const wchar_t LockLine[] =
    L"icacls \"%ls\" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX";

// Why the folder cannot be trusted, into `why`; false when it can. Each
// existing folder on the way is weighed below the root, the folder last.
// Evidence: MS docs "File Security and Access Rights" (DELETE, or the
// parent's FILE_DELETE_CHILD, deletes or renames; FILE_ADD_SUBDIRECTORY makes
// a folder), "Reparse Points" (a junction or symbolic link leads elsewhere).
bool FolderRefusal(const wchar_t* folder, wchar_t* why, size_t size)
{
    if (!BuildLock())
        return false;
    DWORD sidSize = sizeof TrustedInstallerSid;
    PSID ti = (PSID)TrustedInstallerSid;
    ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &ti);
    if (ti != (PSID)TrustedInstallerSid) {
        CopySid(sidSize, TrustedInstallerSid, ti);
        LocalFree(ti);
    }
    wchar_t path[PathSize], parent[PathSize], text[PathSize + 256];
    if (wcslen(folder) >= PathSize)
        return false;
    wcscpy(path, folder);
    size_t start = RootLength(path);
    size_t length = wcslen(path);
    for (size_t end = start; end <= length; end++) {
        if (end < length && path[end] != L'\\')
            continue;
        wchar_t kept = path[end];
        path[end] = 0;
        bool last = end == length;
        DWORD attributes = end > start ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
        bool refused = false;
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            path[end] = kept;
            if (end > start)
                break;  // the rest is missing: made locked
            continue;
        }
        size_t cut = wcsrchr(path, L'\\') - path;
        wcsncpy(parent, path, cut + (cut + 1 == start ? 1 : 0));
        parent[cut + (cut + 1 == start ? 1 : 0)] = 0;
        FolderFacts own, above;
        bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (!reparse && !ReadFolder(path, &own)) {
            swprintf(why, size, L"the owner and DACL of %ls cannot be read.", path);
            refused = true;
        } else {
            bool readAbove = !reparse && ReadFolder(parent, &above);
            DWORD onIt = reparse ? 0 : OthersRights(own.dacl);
            FolderProblem problem = JudgeFolder(reparse, reparse || IsTrustedOwner(own.owner), onIt,
                                                readAbove ? OthersRights(above.dacl) : 0, last);
            // The lock that closes it: this folder's, unless only its parent lets it go.
            bool here = (onIt & (DELETE | WRITE_DAC | WRITE_OWNER)) != 0 || problem != FolderRebuildable;
            swprintf(text, PathSize + 256, LockLine, here ? path : parent);
            refused = problem != FolderFine;
            if (problem == FolderReparse)
                swprintf(why, size, L"%ls is a junction or symbolic link: whoever made it chooses where the "
                         L"service's files go. Install into a folder whose path has none.", path);
            else if (problem == FolderForeignOwner)
                swprintf(why, size, L"%ls belongs to someone who is not an administrator, who may change its "
                         L"permissions whenever they like, or hold it open. Install into a new folder, or give it "
                         L"to Administrators and check what it holds: icacls \"%ls\" /setowner *S-1-5-32-544", path,
                         path);
            else if (problem == FolderRebuildable)
                swprintf(why, size, L"%ls can be renamed or deleted by users who are not administrators, who may "
                         L"also make a folder in %ls and put their own in its place. Lock it first: %ls", path,
                         parent, text);
            else if (problem == FolderOpenToOthers)
                swprintf(why, size, L"%ls already exists, and users who are not administrators may change its "
                         L"permissions: a handle opened before the installation keeps that right after it. "
                         L"Install into a new folder, or lock it and restart the computer first: %ls", path, text);
            if (readAbove)
                LocalFree(above.descriptor);
            if (!reparse)
                LocalFree(own.descriptor);
        }
        path[end] = kept;
        if (refused) {
            why[size - 1] = 0;
            return true;
        }
    }
    return false;
}

// The SDDL of a DACL less its inherited entries: "(A;OICIID;...)" goes, as
// the parent passes those on again.
static void DropInherited(const wchar_t* sddl, wchar_t* out, size_t size)
{
    size_t n = 0;
    for (const wchar_t* p = sddl; *p && n + 1 < size;) {
        const wchar_t* close = *p == L'(' ? wcschr(p, L')') : NULL;
        if (!close) {
            out[n++] = *p++;
            continue;
        }
        // The flags are the second field: from the first ';' to the next.
        const wchar_t* flags = wcschr(p, L';');
        const wchar_t* end = flags ? wcschr(flags + 1, L';') : NULL;
        bool inherited = false;
        for (const wchar_t* f = flags ? flags + 1 : close; end && f + 1 < end; f += 2)
            inherited = inherited || (f[0] == L'I' && f[1] == L'D');
        for (; p <= close && !inherited && n + 1 < size; p++)
            out[n++] = *p;
        p = close + 1;
    }
    out[n] = 0;
}

void LockBefore(const wchar_t* folder, wchar_t* before, size_t size)
{
    wchar_t path[PathSize], first[PathSize] = L"", sddl[LockBeforeSize] = L"";
    before[0] = 0;
    if (wcslen(folder) >= PathSize)
        return;
    wcscpy(path, folder);
    for (size_t n = wcslen(path); n > 3 && path[n - 1] == L'\\';)
        path[--n] = 0;
    size_t length = wcslen(path);
    for (size_t end = RootLength(path); end <= length && !first[0]; end++) {
        if (end < length && path[end] != L'\\')
            continue;
        wchar_t kept = path[end];
        path[end] = 0;
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
            wcscpy(first, path);
        path[end] = kept;
    }
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PSID owner;
    PACL dacl;
    wchar_t* text = NULL;
    if (!first[0] &&
        GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              NULL, &dacl, NULL, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, NULL))
        DropInherited(text, sddl, LockBeforeSize);
    if (text)
        LocalFree(text);
    if (descriptor)
        LocalFree(descriptor);
    if (swprintf(before, size, L"%ls|%ls|%ls", path, first, sddl) < 0)
        before[0] = 0;
}

bool LockFolder(wchar_t* folder, wchar_t* text, size_t size)
{
    for (size_t n = wcslen(folder); n > 3 && folder[n - 1] == L'\\';)
        folder[--n] = 0;
    if (!BuildLock()) {
        swprintf(text, size, L"HolvLockFolder: the descriptor cannot be built (error %lu).", GetLastError());
        return false;
    }
    EnablePrivileges();
    wchar_t why[MessageSize - 64];
    if (FolderRefusal(folder, why, MessageSize - 64)) {
        swprintf(text, size, L"HolvLockFolder: refused: %ls", why);
        return false;
    }

    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
        if (CreateLocked(folder)) {
            swprintf(text, size, L"HolvLockFolder: created %ls with %ls.", folder, LockText);
            return true;
        }
        // Made meanwhile, or not to be made: set as any existing one.
    }

    PSECURITY_DESCRIPTOR before = NULL;
    PSID owner = NULL;
    PACL dacl = NULL;
    DWORD error = SetLock(folder, &before, &owner, &dacl);
    bool same = before && IsLock(before, owner, dacl);
    wchar_t* shown = NULL;
    if (before && !same)
        ConvertSecurityDescriptorToStringSecurityDescriptorW(before, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                             &shown, NULL);
    if (error)
        swprintf(text, size, L"HolvLockFolder: the DACL of %ls cannot be set (error %lu); the service would "
                 L"run what others may put there, so the installation stops.", folder, error);
    else if (same)
        swprintf(text, size, L"HolvLockFolder: %ls already had %ls.", folder, LockText);
    else if (swprintf(text, size, L"HolvLockFolder: %ls already existed with another owner or DACL, %ls; it "
                      L"now has %ls.", folder, shown ? shown : L"(unreadable)", LockText) < 0)
        swprintf(text, size, L"HolvLockFolder: %ls already existed with another owner or DACL (too long to "
                 L"show); it now has %ls.", folder, LockText);
    if (shown)
        LocalFree(shown);
    if (before)
        LocalFree(before);
    return !error;
}

// Appends one line to `text`.
static void Line(wchar_t* text, size_t size, const wchar_t* format, const wchar_t* a, const wchar_t* b,
                 unsigned long number)
{
    size_t n = wcslen(text);
    if (n + 2 < size && swprintf(text + n, size - n, format, a, b, number) < 0)
        text[n] = 0;
}

// The descriptor goes back through a handle that does not follow a junction,
// checked to be the folder, as the lock was set. The folders the lock made
// go deepest first; a folder with something in it stays, and those above it.
// Evidence: MS docs SetSecurityInfo, RemoveDirectory (the folder must be
// empty; a junction or link is removed itself).
void UndoLock(const wchar_t* before, wchar_t* text, size_t size)
{
    wchar_t folder[PathSize], first[PathSize], sddl[LockBeforeSize];
    text[0] = 0;
    const wchar_t* bar = wcschr(before, L'|');
    const wchar_t* bar2 = bar ? wcschr(bar + 1, L'|') : NULL;
    if (!bar2 || (size_t)(bar - before) >= PathSize || (size_t)(bar2 - bar) > PathSize ||
        wcslen(bar2 + 1) >= LockBeforeSize) {
        Line(text, size, L"HolvLockFolder rollback: nothing to put back%ls%ls.", L"", L"", 0);
        return;
    }
    swprintf(folder, PathSize, L"%.*ls", (int)(bar - before), before);
    swprintf(first, PathSize, L"%.*ls", (int)(bar2 - bar - 1), bar + 1);
    wcscpy(sddl, bar2 + 1);
    if (!BuildLock())
        return;
    EnablePrivileges();

    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (sddl[0] && ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL)) {
        PSID owner = NULL;
        PACL dacl = NULL;
        BOOL present = FALSE, defaulted = FALSE;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision;
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        HANDLE handle = CreateFileW(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    NULL);
        DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        BY_HANDLE_FILE_INFORMATION info;
        if (!error && (!GetFileInformationByHandle(handle, &info) ||
                       !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                       (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))
            error = ERROR_DIRECTORY;
        SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
        if (!error)
            error = SetSecurityInfo(handle, SE_FILE_OBJECT, what, owner, NULL, present ? dacl : NULL, NULL);
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        if (error)
            Line(text, size, L"HolvLockFolder rollback: the owner and DACL of %ls cannot be put back, %ls "
                 L"(error %lu).\n", folder, sddl, error);
        else
            Line(text, size, L"HolvLockFolder rollback: %ls has its owner and DACL of before again, %ls.\n", folder,
                 sddl, 0);
        LocalFree(descriptor);
    } else if (sddl[0]) {
        Line(text, size, L"HolvLockFolder rollback: the owner and DACL of %ls were %ls, which cannot be read "
             L"back (error %lu).\n", folder, sddl, GetLastError());
    }

    // From the folder up to the first one the lock made.
    size_t firstLength = wcslen(first);
    if (!firstLength || wcsncmp(folder, first, firstLength) != 0 ||
        (folder[firstLength] && folder[firstLength] != L'\\'))
        return;
    for (size_t n = wcslen(folder); n >= firstLength;) {
        folder[n] = 0;
        if (!RemoveDirectoryW(folder)) {
            Line(text, size, L"HolvLockFolder rollback: kept %ls%ls (error %lu): it is not empty, or in use.\n",
                 folder, L"", GetLastError());
            return;
        }
        Line(text, size, L"HolvLockFolder rollback: removed %ls%ls, which the installation had made.\n", folder, L"",
             0);
        wchar_t* slash = wcsrchr(folder, L'\\');
        if (!slash || (size_t)(slash - folder) < firstLength)
            break;
        n = (size_t)(slash - folder);
    }
}
