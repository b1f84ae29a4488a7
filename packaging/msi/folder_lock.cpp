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
#include <windows.h>

#include <aclapi.h>
#include <lm.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <wchar.h>

#include "folder_lock.h"
#include "folder_trust.h"
#include "msi_log.h"

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

// The folders above it, as they would be made by anyone; then the folder
// itself, locked from its first moment.
static bool CreateLocked(wchar_t* folder)
{
    // Past the root: "C:\" or "\\server\share\".
    size_t start = 3;
    if (folder[0] == L'\\' && folder[1] == L'\\') {
        int slashes = 0;
        for (start = 2; folder[start] && slashes < 2; start++)
            slashes += folder[start] == L'\\';
    }
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
    size_t start = 3;
    if (path[0] == L'\\' && path[1] == L'\\') {
        int slashes = 0;
        for (start = 2; path[start] && slashes < 2; start++)
            slashes += path[start] == L'\\';
    }
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

extern "C" UINT __stdcall HolvLockFolder(MSIHANDLE install)
{
    wchar_t folder[PathSize], text[MessageSize];
    DWORD length = PathSize;
    if (MsiGetPropertyW(install, L"CustomActionData", folder, &length) != ERROR_SUCCESS || !folder[0]) {
        LogInfo(install, L"HolvLockFolder: no folder given.");
        return ERROR_INSTALL_FAILURE;
    }
    for (size_t n = wcslen(folder); n > 3 && folder[n - 1] == L'\\';)
        folder[--n] = 0;
    if (!BuildLock()) {
        swprintf(text, MessageSize, L"HolvLockFolder: the descriptor cannot be built (error %lu).", GetLastError());
        LogInfo(install, text);
        return ERROR_INSTALL_FAILURE;
    }
    EnablePrivileges();
    wchar_t why[MessageSize - 64];
    if (FolderRefusal(folder, why, MessageSize - 64)) {
        swprintf(text, MessageSize, L"HolvLockFolder: refused: %ls", why);
        LogInfo(install, text);
        return ERROR_INSTALL_FAILURE;
    }

    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
        if (CreateLocked(folder)) {
            swprintf(text, MessageSize, L"HolvLockFolder: created %ls with %ls.", folder, LockText);
            LogInfo(install, text);
            return ERROR_SUCCESS;
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
        swprintf(text, MessageSize, L"HolvLockFolder: the DACL of %ls cannot be set (error %lu); the service would "
                 L"run what others may put there, so the installation stops.", folder, error);
    else if (same)
        swprintf(text, MessageSize, L"HolvLockFolder: %ls already had %ls.", folder, LockText);
    else if (swprintf(text, MessageSize, L"HolvLockFolder: %ls already existed with another owner or DACL, %ls; it "
                      L"now has %ls.", folder, shown ? shown : L"(unreadable)", LockText) < 0)
        swprintf(text, MessageSize, L"HolvLockFolder: %ls already existed with another owner or DACL (too long to "
                 L"show); it now has %ls.", folder, LockText);
    LogInfo(install, text);
    if (shown)
        LocalFree(shown);
    if (before)
        LocalFree(before);
    return error ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}
