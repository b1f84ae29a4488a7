// HOLVMSI.DLL's HolvLockFolder (deferred, as LocalSystem, before any file is
// installed): the folder named in CustomActionData gets Administrators as its
// owner and a protected DACL, SYSTEM and Administrators full control, Users
// read and execute, nothing inherited from its parent. The service runs what
// that folder holds, so no one else may put anything there.
//
// A folder that does not exist yet is created with that descriptor, so it is
// never open, even for a moment. The DACL of one that exists is set again,
// and logged when it was another; what lies in it keeps its bytes (Windows
// passes the new inheritable entries on to it). A DACL that cannot be set
// fails the installation.
#include <windows.h>

#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <wchar.h>

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
    const wchar_t* const names[] = {L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege"};
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
    for (size_t i = start; folder[i]; i++) {
        if (folder[i] != L'\\')
            continue;
        folder[i] = 0;
        CreateDirectoryW(folder, NULL);
        folder[i] = L'\\';
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &Lock, FALSE};
    return CreateDirectoryW(folder, &attributes) != FALSE;
}

static DWORD SetLock(wchar_t* folder)
{
    const SECURITY_INFORMATION all =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    DWORD error = SetNamedSecurityInfoW(folder, SE_FILE_OBJECT, all, AdministratorsSid, NULL, (PACL)AclBuffer, NULL);
    if (error == ERROR_ACCESS_DENIED) {
        // A DACL that leaves LocalSystem out: owning the folder first gives
        // the right to change it.
        SetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, AdministratorsSid, NULL, NULL,
                              NULL);
        error = SetNamedSecurityInfoW(folder, SE_FILE_OBJECT, all, AdministratorsSid, NULL, (PACL)AclBuffer, NULL);
    }
    return error;
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
    bool read = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, NULL, &dacl, NULL, &before) == ERROR_SUCCESS;
    bool same = read && IsLock(before, owner, dacl);
    wchar_t* shown = NULL;
    if (read && !same)
        ConvertSecurityDescriptorToStringSecurityDescriptorW(before, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                             &shown, NULL);
    DWORD error = SetLock(folder);
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
