// Who besides administrators may change what the service runs: the owners
// and DACLs of its folder, its programs, its INI file, the -e target, the
// shutdown event, the service and its registry key. Every modification
// right held by anyone else is one finding; descriptors are only read.
#include "check.h"

#include "launch/launch.h"
#include "launch/launch_steps.h"
#include "service/event_name.h"
#include "service/service.h"

#ifdef _WIN32
#include <aclapi.h>
#include <lm.h>
#endif

#include <stdio.h>
#include <string.h>

enum {
    SidTextSize = 192,
    AccountNameSize = 256,
    MaxTrusted = 32,
    MaxChecked = 32,
    SecurityBufferSize = 8192,
};

static const char EveryoneSid[] = "S-1-1-0";
static const char SystemSid[] = "S-1-5-18";
static const char AdministratorsSid[] = "S-1-5-32-544";
static const char UsersSid[] = "S-1-5-32-545";
static const char OwnerRightsSid[] = "S-1-3-4";
static const char AuthenticatedSid[] = "S-1-5-11";
static const char InteractiveSid[] = "S-1-5-4";
static const char TrustedInstallerSid[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// BUILTIN\Administrators in binary form, for the calls that take a SID.
static const BYTE AdministratorsBinary[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

// The kinds of object, for the meaning of their low rights bits.
enum Kind { KindFile, KindFolder, KindService, KindKey, KindEvent };

// GENERIC_READ, _WRITE, _EXECUTE and _ALL of each kind, as Windows maps them.
static const DWORD GenericMap[][4] = {
    {0x120089, 0x120116, 0x1200a0, 0x1f01ff},
    {0x120089, 0x120116, 0x1200a0, 0x1f01ff},
    {0x2008d, 0x20002, 0x20170, 0xf01ff},
    {0x20019, 0x20006, 0x20019, 0xf003f},
    {0x20001, 0x20002, 0x120000, 0x1f0003},
};

// Names of the low bits that count, by kind: 0x2, 0x4, 0x40.
static const char* const LowRights[][3] = {
    {"write", "append", NULL},
    {"add files", "add folders", "delete what is in it"},
    {"change its configuration", NULL, NULL},
    {"set values", "create subkeys", NULL},
    {"signal it", NULL, NULL},
};

enum {
    FileRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_WRITE_DATA | FILE_APPEND_DATA,
    FolderRights = FileRights | FILE_DELETE_CHILD,
    // Where only a new file counts: the folders of a shorter name Windows
    // tries first for a binary path with a space and no quotes.
    NewFileRights = WRITE_DAC | WRITE_OWNER | FILE_ADD_FILE,
};

// What an object is to the service: its kind, the rights on it that count,
// and what whoever holds them could do (formatted with the service's name,
// its account and the role's detail, in that order).
enum Role { RoleFolder, RoleHost, RoleNewFile, RoleIni, RoleWorker, RoleProgram, RoleProgramFolder, RoleDll,
            RoleEvent, RoleService, RoleKey, RoleAncestor, RoleReparse, RoleNewProgram, RoleNewLog };
struct RoleText {
    const char* what;
    Kind kind;
    DWORD rights;
    const char* could;
};
static const RoleText Roles[] = {
    {"the service's folder", KindFolder, FolderRights,
     "can put a %s.ini, a HOLV32IP.EXE or a DLL there and choose the program %s runs"},
    {"the host", KindFile, FileRights, "%.0scan replace the program the service manager starts as %s"},
    {"the folder", KindFolder, NewFileRights,
     "%.0scan put a program there that Windows starts as %s in place of the host: %s (the binary path has a space "
     "and no quotes)"},
    {"the INI file", KindFile, FileRights, "%.0scan change its -e option and choose the program %s runs"},
    {"the worker", KindFile, FileRights, "%.0scan replace HOLV32IP.EXE, which the host starts or copies, as %s"},
    {"the program", KindFile, FileRights, "%.0scan replace the program the host starts as %s"},
    {"the program's folder", KindFolder, FolderRights,
     "%.0scan put a program there that the host starts as %s: %s"},
    {"a DLL beside the host", KindFile, FileRights, "%.0scan replace a DLL Windows may load into the host, as %s"},
    {"the shutdown event", KindEvent, EVENT_MODIFY_STATE | WRITE_DAC | WRITE_OWNER,
     "%.0s%.0scan signal it and end the worker at will"},
    {"the service", KindService, SERVICE_CHANGE_CONFIG | WRITE_DAC | WRITE_OWNER,
     "%.0scan point the service at any program, run as %s"},
    {"the service's registry key", KindKey, KEY_SET_VALUE | KEY_CREATE_SUB_KEY | WRITE_DAC | WRITE_OWNER,
     "%.0scan change its ImagePath and run any program as %s"},
    {"the folder on the way", KindFolder, DELETE | WRITE_DAC | WRITE_OWNER | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD,
     "%.0scan rename a folder on the way and build the path again, with programs of their own for %s to run in %s"},
    {"the junction or symbolic link on the way", KindFolder, FolderRights,
     "%.0scan point it elsewhere and choose what %s runs from %s"},
    {"the program the copy will create", KindFile, FileRights,
     "%.0scan replace the copy of HOLV32IP.EXE the host makes there, and starts, as %s"},
    {"the log the host will create", KindFile, FileRights, "%.0s%.0scan rewrite or delete the host's records"},
};

// A descriptor as read: its owner and DACL.
struct Descriptor {
    PSECURITY_DESCRIPTOR release;  // for LocalFree, when GetNamedSecurityInfoA gave it
    PSID owner;
    PACL dacl;
    bool nullDacl;  // no DACL: everyone may do everything
};

// The principals the report trusts, and the service's account.
static char Trusted[MaxTrusted][SidTextSize];
static int TrustedCount;
static char AccountName[AccountNameSize];
static char AccountSid[SidTextSize];
static DWORD ServiceState;
static char Checked[MaxChecked][MAX_PATH];
static int CheckedCount;
static char Climbed[MaxChecked][MAX_PATH];  // the folders AuditAncestors has weighed
static int ClimbedCount;
static BYTE SecurityBuffer[SecurityBufferSize];
bool AuditIncomplete;

void SidText(PSID sid, char* out, size_t size)
{
    out[0] = 0;
    if (!sid)
        return;
    // Read byte by byte: the sub-authorities lie past the declared array.
    const BYTE* b = (const BYTE*)sid;
    unsigned long low = ((unsigned long)b[4] << 24) | ((unsigned long)b[5] << 16) | (b[6] << 8) | b[7];
    int n = b[2] || b[3] ? snprintf(out, size, "S-%u-0x%02X%02X%08lX", b[0], b[2], b[3], low)
                         : snprintf(out, size, "S-%u-%lu", b[0], low);
    for (int i = 0; i < b[1] && n > 0 && (size_t)n < size; i++) {
        DWORD sub;
        memcpy(&sub, b + 8 + 4 * i, sizeof sub);
        n += snprintf(out + n, size - n, "-%lu", (unsigned long)sub);
    }
}

static bool IsTrusted(const char* sid)
{
    for (int i = 0; i < TrustedCount; i++)
        if (strcmp(Trusted[i], sid) == 0)
            return true;
    return false;
}

static void Trust(const char* sid)
{
    if (sid[0] && !IsTrusted(sid) && TrustedCount < MaxTrusted)
        snprintf(Trusted[TrustedCount++], SidTextSize, "%s", sid);
}

// "DOMAIN\name", or the name alone when it has no domain; empty when the
// SID is not known here.
static void AccountOf(PSID sid, char* out, size_t size)
{
    char name[AccountNameSize], domain[AccountNameSize];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    out[0] = 0;
    if (LookupAccountSidA(NULL, sid, name, &nameSize, domain, &domainSize, &use))
        snprintf(out, size, "%s%s%s", domain, domain[0] ? "\\" : "", name);
}

// The service's account as the service manager holds it, and its state.
static void ReadAccount(const char* name)
{
    snprintf(AccountName, sizeof AccountName, "LocalSystem");
    ServiceState = SERVICE_STOPPED;
    SC_HANDLE manager = Facts.installed ? OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT) : NULL;
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS) : NULL;
    if (service) {
        QUERY_SERVICE_CONFIGA* config = (QUERY_SERVICE_CONFIGA*)SecurityBuffer;
        DWORD needed = 0;
        if (QueryServiceConfigA(service, config, sizeof SecurityBuffer, &needed) && config->lpServiceStartName &&
            config->lpServiceStartName[0])
            snprintf(AccountName, sizeof AccountName, "%s", config->lpServiceStartName);
        SERVICE_STATUS status;
        if (QueryServiceStatus(service, &status))
            ServiceState = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);

    // The service manager's own spellings of the three built-in accounts.
    static const char* const BuiltIn[][2] = {
        {"LocalSystem", SystemSid}, {".\\LocalSystem", SystemSid},
        {"NT AUTHORITY\\LocalService", "S-1-5-19"}, {"NT AUTHORITY\\NetworkService", "S-1-5-20"},
    };
    AccountSid[0] = 0;
    for (const auto& known : BuiltIn)
        if (lstrcmpiA(AccountName, known[0]) == 0)
            snprintf(AccountSid, sizeof AccountSid, "%s", known[1]);
    if (!AccountSid[0]) {
        // ".\name" is an account of this computer.
        const char* lookup = strncmp(AccountName, ".\\", 2) == 0 ? AccountName + 2 : AccountName;
        BYTE sid[SECURITY_MAX_SID_SIZE];
        char domain[AccountNameSize];
        DWORD sidSize = sizeof sid, domainSize = sizeof domain;
        SID_NAME_USE use;
        if (LookupAccountNameA(NULL, lookup, sid, &sidSize, domain, &domainSize, &use))
            SidText(sid, AccountSid, sizeof AccountSid);
        else
            Finding(FindingNote, "the service's account %s cannot be looked up (error %lu): it is not trusted here",
                    AccountName, (unsigned long)GetLastError());
    }
}

// Administrators: the group's members, and whoever runs this check when its
// token holds the group (a member through a nested or domain group too).
static void ReadAdministrators()
{
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD needed = 0;
        BOOL member = FALSE;
        if (GetTokenInformation(token, TokenUser, SecurityBuffer, sizeof SecurityBuffer, &needed) &&
            CheckTokenMembership(NULL, (PSID)AdministratorsBinary, &member) && member) {
            char sid[SidTextSize];
            SidText(((TOKEN_USER*)SecurityBuffer)->User.Sid, sid, sizeof sid);
            Trust(sid);
        }
        CloseHandle(token);
    }
    // The group's name is the system's language's.
    wchar_t group[AccountNameSize], domain[AccountNameSize];
    DWORD groupSize = AccountNameSize, domainSize = AccountNameSize;
    SID_NAME_USE use;
    if (!LookupAccountSidW(NULL, (PSID)AdministratorsBinary, group, &groupSize, domain, &domainSize, &use))
        return;
    LPBYTE buffer = NULL;
    DWORD read = 0, total = 0;
    if (NetLocalGroupGetMembers(NULL, group, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, NULL) == NERR_Success) {
        const LOCALGROUP_MEMBERS_INFO_0* members = (const LOCALGROUP_MEMBERS_INFO_0*)buffer;
        for (DWORD i = 0; i < read; i++) {
            char sid[SidTextSize];
            SidText(members[i].lgrmi0_sid, sid, sizeof sid);
            Trust(sid);
        }
    }
    if (buffer)
        NetApiBufferFree(buffer);
}

static DWORD Mapped(DWORD mask, Kind kind)
{
    const DWORD* map = GenericMap[kind];
    DWORD mapped = mask & 0x00FFFFFF;
    if (mask & GENERIC_READ)
        mapped |= map[0];
    if (mask & GENERIC_WRITE)
        mapped |= map[1];
    if (mask & GENERIC_EXECUTE)
        mapped |= map[2];
    if (mask & (GENERIC_ALL | MAXIMUM_ALLOWED))
        mapped |= map[3];
    return mapped;
}

// Whether a deny ACE for `denied` takes from `sid`: its own; Everyone's;
// Authenticated Users' from an account that logs on with a password (not the
// Guest account, not Domain Guests); Users' from Authenticated Users and
// INTERACTIVE, its documented members. Where membership cannot be known
// (Guests, Anonymous, another group), nothing is taken.
// Evidence: MS docs "Well-known SIDs" (Authenticated Users excludes Guest and
// anonymous logons) and "Default local groups" (Users holds Authenticated
// Users and INTERACTIVE).
static bool Covers(const char* denied, const char* sid)
{
    if (strcmp(denied, sid) == 0 || strcmp(denied, EveryoneSid) == 0)
        return true;
    bool users = strcmp(denied, UsersSid) == 0;
    if (users && (strcmp(sid, AuthenticatedSid) == 0 || strcmp(sid, InteractiveSid) == 0))
        return true;
    if (!users && strcmp(denied, AuthenticatedSid) != 0)
        return false;
    const char* rid = strrchr(sid, '-');
    return strncmp(sid, "S-1-5-21-", 9) == 0 && strcmp(rid, "-501") != 0 && strcmp(rid, "-514") != 0;
}

// How the audit takes an ACE, by its type: every kind of allow grants, as its
// condition may hold; only the plain deny takes away (an object or callback
// deny may not apply); audit, alarm, label and the other system ACEs say
// nothing of access; any other type is unknown here.
// Evidence: MS docs ACE_HEADER (the types), ACCESS_ALLOWED_CALLBACK_ACE and
// "Security Descriptor Definition Language for Conditional ACEs".
enum AceUse { AceIgnored, AceAllow, AceDeny, AceUnknown };
static AceUse UseOf(BYTE type)
{
    switch (type) {
    case 0x0: case 0x5: case 0x9: case 0xB:
        return AceAllow;
    case 0x1:
        return AceDeny;
    case 0x2: case 0x3: case 0x6: case 0x7: case 0x8: case 0xA: case 0xC: case 0xD: case 0xE: case 0xF: case 0x10:
    case 0x11: case 0x12: case 0x13: case 0x14: case 0x15:
        return AceIgnored;
    }
    return AceUnknown;  // 0x4, the compound ACE, too: its layout is another
}

// Where an ACE's SID lies: after the mask, and in an object ACE after its
// flags and the GUIDs they say are there.
// Evidence: MS docs ACCESS_ALLOWED_OBJECT_ACE (ACE_OBJECT_TYPE_PRESENT 0x1,
// ACE_INHERITED_OBJECT_TYPE_PRESENT 0x2).
static const BYTE* AceSid(const BYTE* ace)
{
    const BYTE* body = ace + 8;
    BYTE type = ace[0];
    if ((type >= 0x5 && type <= 0x8) || type == 0xB || type == 0xC || type == 0xF || type == 0x10) {
        DWORD flags;
        memcpy(&flags, body, sizeof flags);
        body += 4 + (flags & 1 ? 16 : 0) + (flags & 2 ? 16 : 0);
    }
    return body;
}

// An ACE that counts, with its use, mask and SID (as text too): on the
// object itself when `child` is false (not inherit-only), else on a file
// about to be created in the folder (object-inherit, inherit-only or not).
struct AceView {
    AceUse use;
    DWORD mask;
    PSID sid;
    char text[SidTextSize];
};
static bool ViewAce(PACL dacl, DWORD index, bool child, AceView* view)
{
    LPVOID at;
    if (!GetAce(dacl, index, &at))
        return false;
    const BYTE* ace = (const BYTE*)at;
    view->use = UseOf(ace[0]);
    bool applies = child ? (ace[1] & OBJECT_INHERIT_ACE) != 0 : !(ace[1] & INHERIT_ONLY_ACE);
    if (!applies || (view->use != AceAllow && view->use != AceDeny))
        return false;
    memcpy(&view->mask, ace + 4, sizeof view->mask);
    view->sid = (PSID)AceSid(ace);
    SidText(view->sid, view->text, sizeof view->text);
    return true;
}

// What the holder of `sids` (one principal, or an account's token) may do:
// the ACEs in order, each deny taking away what was not granted before it;
// an owner may always read and change the DACL unless OWNER RIGHTS says
// otherwise. With `child`, what a file created in the folder would give.
static DWORD RightsOf(const Descriptor& d, Kind kind, const char* const* sids, int count, bool owner,
                      bool child = false)
{
    if (d.nullDacl)
        return GenericMap[kind][3];
    DWORD granted = 0, denied = 0;
    bool ownerRights = false;
    for (DWORD i = 0; i < d.dacl->AceCount; i++) {
        AceView ace;
        if (!ViewAce(d.dacl, i, child, &ace))
            continue;
        bool forOwner = strcmp(ace.text, OwnerRightsSid) == 0;
        ownerRights = ownerRights || forOwner;
        bool allow = ace.use == AceAllow;
        bool applies = owner && forOwner;
        for (int k = 0; k < count; k++)
            applies = applies || (allow ? strcmp(ace.text, sids[k]) == 0 : Covers(ace.text, sids[k]));
        if (!applies)
            continue;
        DWORD mask = Mapped(ace.mask, kind);
        if (allow)
            granted |= mask & ~denied;
        else
            denied |= mask & ~granted;
    }
    if (owner && !ownerRights)
        granted |= READ_CONTROL | WRITE_DAC;
    return granted;
}

static bool IsRoot(const char* path)
{
    size_t n = strlen(path);
    return n <= 1 || (n == 3 && path[1] == ':');
}

static bool ParentOf(const char* path, char* out, size_t size);

// The command that mends one finding.
static void Mend(char* out, size_t size, Role role, const char* object, const char* sid, bool owner, bool acl)
{
    Kind kind = Roles[role].kind;
    out[0] = 0;
    if (role == RoleNewFile) {
        char image[BinaryPathSize];
        ImageOf(Facts.binaryPath, image, sizeof image);
        snprintf(out, size, "quote the binary path: sc config %s binPath= \"\\\"%s\\\"\"", Facts.name, image);
        return;
    }
    if (role == RoleService) {
        snprintf(out, size, "sc sdset %s D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
                 "(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)", Facts.name);
        return;
    }
    if (role == RoleKey) {
        snprintf(out, size, "in regedit, Permissions of HKLM\\SYSTEM\\CurrentControlSet\\Services\\%s: leave %s "
                 "no more than Read", Facts.name, sid);
        return;
    }
    if (role == RoleReparse) {
        snprintf(out, size, "rmdir \"%s\" removes the link alone; make the folder anew, locked as the documents say",
                 object);
        return;
    }
    if (role == RoleEvent) {
        snprintf(out, size, "end the process that holds it");
        return;
    }
    char folder[MAX_PATH];
    if ((role == RoleNewProgram || role == RoleNewLog) && ParentOf(object, folder, sizeof folder)) {
        // The file takes what its folder passes on: lock the folder.
        object = folder;
        kind = KindFolder;
    }
    if (kind == KindFolder && IsRoot(object)) {
        snprintf(out, size, "use a folder of its own below the root, locked as the documents say");
        return;
    }
    const char* inherit = kind == KindFolder ? "(OI)(CI)" : "";
    int n = 0;
    if (acl) {
        char remove[SidTextSize + 16] = "";
        if (strcmp(sid, UsersSid) != 0)
            snprintf(remove, sizeof remove, " /remove:g *%s", sid);
        n = snprintf(out, size, "icacls \"%s\" /inheritance:r%s /grant:r *%s:%sF *%s:%sF *%s:%sRX", object, remove,
                     SystemSid, inherit, AdministratorsSid, inherit, UsersSid, inherit);
    }
    if (owner && n >= 0 && (size_t)n < size)
        snprintf(out + n, size - n, "%sicacls \"%s\" /setowner *%s", acl ? " && " : "", object, AdministratorsSid);
}

static void Report(Role role, const char* object, const char* detail, PSID sid, const char* sidText, DWORD rights,
                   bool owner, bool acl)
{
    const RoleText& r = Roles[role];
    char name[AccountNameSize * 2];
    AccountOf(sid, name, sizeof name);
    char list[CheckLineSize] = "";
    DWORD counted = rights & r.rights;
    if ((rights & GenericMap[r.kind][3]) == GenericMap[r.kind][3]) {
        snprintf(list, sizeof list, "do anything");
    } else {
        static const DWORD Bits[] = {0x2, 0x4, 0x40, DELETE, WRITE_DAC, WRITE_OWNER};
        static const char* const Common[] = {"delete it", "change its permissions", "take ownership"};
        for (int i = 0; i < 6; i++) {
            const char* word = i < 3 ? LowRights[r.kind][i] : Common[i - 3];
            if (!(counted & Bits[i]) || !word)
                continue;
            size_t used = strlen(list);
            snprintf(list + used, sizeof list - used, "%s%s", used ? ", " : "", word);
        }
    }
    char could[CheckLineSize], mend[CheckLineSize];
    snprintf(could, sizeof could, r.could, Facts.name, AccountName, detail);
    Mend(mend, sizeof mend, role, object, sidText, owner, acl);
    // Whoever may rewrite the log cannot choose what runs: a warning.
    Finding(role == RoleNewLog ? FindingWarning : FindingAccess, "%s %s: %s%s(%s) %smay %s (0x%lX): %s; %s", r.what,
            object, name, name[0] ? " " : "",
            sidText, owner ? "owns it and " : "", list, (unsigned long)rights, could, mend);
}

// An ACE type the audit does not know leaves it incomplete: said once per
// object, and in the verdict.
static void NoteUnknownAces(const char* object, const Descriptor& d)
{
    for (DWORD i = 0; !d.nullDacl && i < d.dacl->AceCount; i++) {
        LPVOID at;
        if (!GetAce(d.dacl, i, &at) || UseOf(((const BYTE*)at)[0]) != AceUnknown)
            continue;
        AuditIncomplete = true;
        Finding(FindingWarning, "audit incomplete: %s holds an ACE of type 0x%X, which this check does not know; "
                "read it with icacls, and count on nothing here for it", object, ((const BYTE*)at)[0]);
        return;
    }
}

// The principals a descriptor names that the audit must weigh: the owner,
// then each SID the allow ACEs name, each once; none trusted, and not
// CREATOR OWNER or CREATOR GROUP, which name nobody on the object itself.
// `*at` walks from 0; false at the end.
static bool NextPrincipal(const Descriptor& d, bool child, DWORD* at, PSID* sid, char* text)
{
    for (; !d.nullDacl && *at <= d.dacl->AceCount; ++*at) {
        AceView ace;
        if (*at == 0) {
            if (child)
                continue;
            SidText(d.owner, ace.text, sizeof ace.text);
            ace.sid = d.owner;
        } else if (!ViewAce(d.dacl, *at - 1, child, &ace) || ace.use != AceAllow) {
            continue;
        }
        if (!ace.text[0] || IsTrusted(ace.text) || strncmp(ace.text, "S-1-3-", 6) == 0)
            continue;
        // Once: not the owner's again, nor an earlier ACE's.
        char earlier[SidTextSize];
        SidText(d.owner, earlier, sizeof earlier);
        bool seen = *at > 0 && !child && strcmp(earlier, ace.text) == 0;
        for (DWORD k = 0; k + 1 < *at && !seen; k++) {
            AceView before;
            seen = ViewAce(d.dacl, k, child, &before) && before.use == AceAllow && strcmp(before.text, ace.text) == 0;
        }
        if (seen)
            continue;
        *sid = ace.sid;
        snprintf(text, SidTextSize, "%s", ace.text);
        ++*at;
        return true;
    }
    return false;
}

// One finding for each principal outside the trusted ones that holds a
// right that counts for the role. With `child`, the rights a file created in
// the folder `d` describes would give.
static void Audit(Role role, const char* object, const char* detail, const Descriptor& d, bool child = false)
{
    Kind kind = Roles[role].kind;
    DWORD counted = Roles[role].rights;
    if (d.nullDacl) {
        static const BYTE Everyone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
        Report(role, object, detail, (PSID)Everyone, EveryoneSid, GenericMap[kind][3], false, true);
        return;
    }
    NoteUnknownAces(object, d);
    char owner[SidTextSize];
    SidText(d.owner, owner, sizeof owner);
    PSID sid;
    char principal[SidTextSize];
    for (DWORD at = 0; NextPrincipal(d, child, &at, &sid, principal);) {
        const char* p = principal;
        bool isOwner = !child && strcmp(principal, owner) == 0;
        DWORD rights = RightsOf(d, kind, &p, 1, isOwner, child);
        if (!(rights & counted))
            continue;
        // Whether the DACL itself grants it anything, beside what owning gives.
        bool acl = (RightsOf(d, kind, &p, 1, false, child) & counted) != 0;
        Report(role, object, detail, sid, principal, rights, isOwner, acl);
    }
}

static bool ReadNamed(const char* name, SE_OBJECT_TYPE type, Descriptor* d, DWORD* error)
{
    memset(d, 0, sizeof *d);
    PSECURITY_DESCRIPTOR descriptor = NULL;
    *error = GetNamedSecurityInfoA(name, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &d->owner,
                                   NULL, &d->dacl, NULL, &descriptor);
    // Wine answers for a kernel object without a descriptor: nothing to read.
    if (*error || !descriptor)
        return false;
    d->release = descriptor;
    d->nullDacl = !d->dacl;
    return true;
}

static void Release(Descriptor* d)
{
    if (d->release)
        LocalFree(d->release);
    d->release = NULL;
}

// The account's own token: itself, and the groups every service account
// is in; LocalSystem's also holds Administrators.
static DWORD AccountRights(const Descriptor& d, Kind kind)
{
    const char* sids[] = {AccountSid, EveryoneSid, "S-1-5-11", UsersSid, "S-1-5-6", AdministratorsSid};
    char owner[SidTextSize];
    SidText(d.owner, owner, sizeof owner);
    int count = strcmp(AccountSid, SystemSid) == 0 ? 6 : 5;
    return AccountSid[0] ? RightsOf(d, kind, sids, count, strcmp(owner, AccountSid) == 0) : 0;
}

// A name of the checked folder as a full path; one with a path of its own
// stays as it is.
static void FullPath(const char* name, char* out, size_t size)
{
    bool full = name[0] == '\\' || name[0] == '/' || (name[0] && name[1] == ':');
    const char* folder = OpenableFolder();
    size_t n = strlen(folder);
    bool slash = n && (folder[n - 1] == '\\' || folder[n - 1] == '/');
    if (full)
        snprintf(out, size, "%s", name);
    else
        snprintf(out, size, "%s%s%s", folder, slash ? "" : "\\", name);
}

// The folder a path lies in ("C:\" for C:\X); false when it has none.
static bool ParentOf(const char* path, char* out, size_t size)
{
    const char* back = strrchr(path, '\\');
    const char* forward = strrchr(path, '/');
    const char* last = back > forward ? back : forward;
    if (!last || !last[1] || IsRoot(path))
        return false;
    size_t keep = (size_t)(last - path);
    if (keep == 0 || (keep == 2 && path[1] == ':'))
        keep++;
    snprintf(out, size, "%.*s", (int)keep, path);
    return true;
}

// The nearest existing folder that holds a path.
static bool NearestFolder(const char* path, char* out, size_t size)
{
    char at[MAX_PATH];
    snprintf(at, sizeof at, "%s", path);
    while (ParentOf(at, out, size)) {
        if (IsDirectory(out))
            return true;
        snprintf(at, sizeof at, "%s", out);
    }
    return false;
}

// A path's character as Windows compares it: / for \, letters in either case.
static char Folded(char c)
{
    return c == '/' ? '\\' : (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// Whether two paths name one object.
static bool SamePath(const char* a, const char* b)
{
    for (; Folded(*a) == Folded(*b); a++, b++)
        if (!*a)
            return true;
    return false;
}

// One file or folder, once; a folder where Windows would start a shorter
// name in place of the host is told as such even when it was seen in
// another role (the host's own folder, with an unquoted path at a root).
static void AuditPath(Role role, const char* path, const char* detail)
{
    if (!path[0])
        return;
    for (int i = 0; i < CheckedCount && role != RoleNewFile; i++)
        if (SamePath(Checked[i], path))
            return;
    if (CheckedCount < MaxChecked)
        snprintf(Checked[CheckedCount++], MAX_PATH, "%s", path);
    Descriptor d;
    DWORD error;
    if (!ReadNamed(path, SE_FILE_OBJECT, &d, &error)) {
        // Nothing there is nothing to weigh; anything else unread leaves the
        // audit incomplete, never clean.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            Finding(FindingNote, "the rights on %s cannot be read (error %lu)", path, (unsigned long)error);
        else if (error) {
            AuditIncomplete = true;
            Finding(FindingWarning, "audit incomplete: the rights on %s cannot be read (error %lu): run HOLVCHK as "
                    "an administrator, or read them with icacls", path, (unsigned long)error);
        }
        return;
    }
    Audit(role, path, detail, d);
    Release(&d);
}

static void AuditAncestors(const char* path);

// A program and the folder it lies in, or would.
static void AuditProgram(const char* program)
{
    char full[MAX_PATH], folder[MAX_PATH];
    FullPath(program, full, sizeof full);
    if (IsFile(full))
        AuditPath(RoleProgram, full, "");
    if (NearestFolder(full, folder, sizeof folder)) {
        AuditPath(RoleProgramFolder, folder, full);
        AuditAncestors(folder);
    }
}

// Whether the service's account may write a file, or create it in its
// folder; false, with a warning, when it may not.
static bool AccountMayWrite(const char* path, const char* what, DWORD writeRight)
{
    Descriptor d;
    DWORD error;
    char folder[MAX_PATH];
    bool exists = IsFile(path);
    if (!ParentOf(path, folder, sizeof folder) || !ReadNamed(exists ? path : folder, SE_FILE_OBJECT, &d, &error))
        return true;
    DWORD needed = exists ? writeRight : FILE_ADD_FILE;
    DWORD rights = AccountRights(d, exists ? KindFile : KindFolder);
    Release(&d);
    if ((rights & needed) == needed)
        return true;
    Finding(FindingWarning, "the service's account %s (%s) may not %s %s: %s; %sicacls \"%s\" /grant *%s:M",
            AccountName, AccountSid, exists ? "write" : "create", path, what,
            exists ? "" : "create it once as an administrator, then ", path, AccountSid);
    return false;
}

// A file the host will create, with what it will take from its folder.
// Evidence: MS docs "ACE Inheritance Rules" (an object-inherit ACE, inherit-
// only or not, goes onto a new file; CREATOR OWNER becomes its creator, the
// service's account, trusted here).
static void AuditNewFile(Role role, const char* path)
{
    char folder[MAX_PATH];
    Descriptor d;
    DWORD error;
    if (IsFile(path) || !ParentOf(path, folder, sizeof folder) || !ReadNamed(folder, SE_FILE_OBJECT, &d, &error))
        return;
    Audit(role, path, "", d, true);
    Release(&d);
}

// The token a logged-on principal acts with: itself and Everyone, and for an
// account that logs on with a password (or Authenticated Users itself) also
// Authenticated Users and Users. Evidence: as for Covers.
static int TokenOf(const char* sid, const char** token)
{
    int n = 0;
    token[n++] = sid;
    token[n++] = EveryoneSid;
    if (Covers(AuthenticatedSid, sid)) {
        token[n++] = AuthenticatedSid;
        token[n++] = UsersSid;
    }
    return n;
}

// Each folder on the way to `path` (itself included), up to the root: whoever
// may remove it from its parent (DELETE on it, or "delete what is in it" on
// the parent, or the parent's or its own DACL or owner) and add a folder to
// the parent can rename it away and build the path again. For the folder
// itself only what its parent gives counts here: its own DELETE is the
// folder's own finding. The finding names the folder whose DACL allows the
// removal.
// Evidence: MS docs "File Security and Access Rights" (DELETE or the parent's
// FILE_DELETE_CHILD to delete or rename; FILE_ADD_SUBDIRECTORY to create a
// folder) and MoveFileEx.
static void AuditAncestors(const char* path)
{
    char at[MAX_PATH], parent[MAX_PATH];
    snprintf(at, sizeof at, "%s", path);
    enum { Remove = DELETE | WRITE_DAC | WRITE_OWNER };
    for (; ParentOf(at, parent, sizeof parent); snprintf(at, sizeof at, "%s", parent)) {
        bool self = SamePath(at, path), climbed = false;
        for (int i = 0; i < ClimbedCount && !climbed; i++)
            climbed = SamePath(Climbed[i], at);
        if (climbed)
            continue;
        if (ClimbedCount < MaxChecked)
            snprintf(Climbed[ClimbedCount++], MAX_PATH, "%s", at);
        Descriptor own, above;
        DWORD error;
        if (!ReadNamed(at, SE_FILE_OBJECT, &own, &error))
            continue;
        // A junction or symbolic link leads where its owner says. The rights
        // read through it are its target's: an untrusted owner there is a
        // finding; else a warning, since the link's own rights are not read.
        // Evidence: MS docs "Reparse Points", GetNamedSecurityInfo (the name
        // is opened as CreateFile would, which follows it).
        DWORD attributes = GetFileAttributesA(at);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            char owner[SidTextSize];
            SidText(own.owner, owner, sizeof owner);
            if (!IsTrusted(owner))
                Report(RoleReparse, at, path, own.owner, owner, GenericMap[KindFolder][3], true, false);
            else
                Finding(FindingWarning, "%s on the way to %s is a junction or symbolic link: whoever may change it "
                        "chooses what the service runs; dir /al and icacls show who made it and who may change it",
                        at, path);
        }
        if (!ReadNamed(parent, SE_FILE_OBJECT, &above, &error)) {
            Release(&own);
            continue;
        }
        NoteUnknownAces(parent, above);
        char ownOwner[SidTextSize], aboveOwner[SidTextSize];
        SidText(own.owner, ownOwner, sizeof ownOwner);
        SidText(above.owner, aboveOwner, sizeof aboveOwner);
        const Descriptor* both[] = {&own, &above};
        for (const Descriptor* d : both) {
            PSID sid;
            char principal[SidTextSize];
            for (DWORD k = 0; NextPrincipal(*d, false, &k, &sid, principal);) {
                // Once: a principal both name is weighed at the folder's turn.
                bool again = false;
                for (DWORD j = 0; d == &above && !again;) {
                    PSID other;
                    char seen[SidTextSize];
                    if (!NextPrincipal(own, false, &j, &other, seen))
                        break;
                    again = strcmp(seen, principal) == 0;
                }
                if (again)
                    continue;
                const char* token[4];
                int n = TokenOf(principal, token);
                DWORD onIt = RightsOf(own, KindFolder, token, n, strcmp(ownOwner, principal) == 0);
                DWORD onParent = RightsOf(above, KindFolder, token, n, strcmp(aboveOwner, principal) == 0);
                bool remove = (!self && (onIt & Remove)) || (onParent & (FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER));
                bool rebuild = (onParent & (FILE_ADD_SUBDIRECTORY | WRITE_DAC | WRITE_OWNER)) != 0;
                // Named is the folder whose DACL gives the removal: the mend is there.
                bool own = !self && (onIt & Remove);
                if (remove && rebuild)
                    Report(RoleAncestor, own ? at : parent, path, sid, principal,
                           own ? (onIt & Remove) | (onParent & (FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD))
                               : onParent & (FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER),
                           false, true);
            }
        }
        Release(&own);
        Release(&above);
    }
}

static void AuditEvent()
{
    char event[EventNameSize], global[EventNameSize + 8];
    ShutdownEventName(event);
    // The host runs in session 0, where its event's name is a global one.
    snprintf(global, sizeof global, "Global\\%s", event);
    Descriptor d;
    DWORD error;
    if (!ReadNamed(global, SE_KERNEL_OBJECT, &d, &error)) {
        if (error && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            Finding(FindingNote, "the rights on %s cannot be read (error %lu)", event, (unsigned long)error);
        return;
    }
    if (ServiceState == SERVICE_STOPPED)
        Finding(FindingWarning, "%s exists while %s is stopped: another process made it or still holds it (a "
                "worker left running?), and the host will use it as it is", event, Facts.name);
    if ((AccountRights(d, KindEvent) & EVENT_ALL_ACCESS) != EVENT_ALL_ACCESS)
        Finding(FindingWarning, "the service's account %s may not open %s with all access: the host gets no event, "
                "and the worker never hears a stop", AccountName, event);
    Audit(RoleEvent, event, "", d);
    Release(&d);
}

static void AuditService(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, READ_CONTROL) : NULL;
    DWORD needed = 0;
    if (service && QueryServiceObjectSecurity(service, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                              SecurityBuffer, sizeof SecurityBuffer, &needed)) {
        Descriptor d;
        BOOL present = FALSE, defaulted = FALSE;
        memset(&d, 0, sizeof d);
        GetSecurityDescriptorOwner(SecurityBuffer, &d.owner, &defaulted);
        GetSecurityDescriptorDacl(SecurityBuffer, &present, &d.dacl, &defaulted);
        d.nullDacl = !present || !d.dacl;
        Audit(RoleService, name, "", d);
    } else {
        Finding(FindingNote, "the rights on the service %s cannot be read (error %lu)", name,
                (unsigned long)GetLastError());
    }
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);

    char key[MAX_PATH];
    snprintf(key, sizeof key, "MACHINE\\SYSTEM\\CurrentControlSet\\Services\\%s", name);
    Descriptor d;
    DWORD error;
    if (ReadNamed(key, SE_REGISTRY_KEY, &d, &error)) {
        char shown[MAX_PATH];
        snprintf(shown, sizeof shown, "HKLM\\%s", key + 8);
        Audit(RoleKey, shown, "", d);
        Release(&d);
    } else if (error) {
        Finding(FindingNote, "the rights on the service's registry key cannot be read (error %lu)",
                (unsigned long)error);
    }
}

void CheckAccess(const char* name)
{
    TrustedCount = 0;
    CheckedCount = 0;
    ClimbedCount = 0;
    AuditIncomplete = false;
    Trust(SystemSid);
    Trust(AdministratorsSid);
    Trust(TrustedInstallerSid);
    ReadAccount(name);
    Trust(AccountSid);
    int base = TrustedCount;
    ReadAdministrators();
    Finding(FindingNote, "the service runs as %s (%s); trusted beside it: SYSTEM, TrustedInstaller, "
            "Administrators and %d of its members", AccountName, AccountSid[0] ? AccountSid : "unknown",
            TrustedCount - base);

    // The folder, the host and the DLLs Windows may load beside it.
    AuditPath(RoleFolder, OpenableFolder(), "");
    AuditAncestors(Facts.directory);
    char path[MAX_PATH], folder[MAX_PATH];
    // A binary path that names no file, or none by a name that opens here:
    // the host that counts is the folder's.
    if (Facts.installed && !Facts.hostError && !Facts.unnamedFolder) {
        ImageOf(Facts.binaryPath, path, sizeof path);
        AuditPath(RoleHost, path, "");
        if (ParentOf(path, folder, sizeof folder)) {
            AuditPath(RoleFolder, folder, "");
            AuditAncestors(folder);
        }
        // Without quotes, Windows tries each name that ends at a blank first.
        for (size_t i = 0; Facts.binaryPath[0] != '"' && path[i]; i++) {
            if (path[i] != ' ' && path[i] != '\t')
                continue;
            char candidate[MAX_PATH];
            snprintf(candidate, sizeof candidate, "%.*s.exe", (int)i, path);
            if (NearestFolder(candidate, folder, sizeof folder))
                AuditPath(RoleNewFile, folder, candidate);
        }
    } else {
        const char* file = "HOLVSVC.EXE";
        if (Facts.unnamedFolder) {
            ImageOf(Facts.binaryPath, folder, sizeof folder);
            for (const char* p = folder; *p; p++)
                if (*p == '\\' || *p == '/')
                    file = p + 1;
        }
        FullPath(file, path, sizeof path);
        if (IsFile(path))
            AuditPath(RoleHost, path, "");
    }
    WIN32_FIND_DATAA found;
    FullPath("*.dll", path, sizeof path);
    HANDLE search = FindFirstFileA(path, &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        FullPath(found.cFileName, path, sizeof path);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            AuditPath(RoleDll, path, "");
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);

    // What the host reads and starts.
    FullPath(IniPath, path, sizeof path);
    if (IsFile(path))
        AuditPath(RoleIni, path, "");
    FullPath("HOLV32IP.EXE", path, sizeof path);
    if (IsFile(path))
        AuditPath(RoleWorker, path, "");
    RefreshPlan plan;
    DecideRefresh(&plan);
    if (plan.targetNamed)
        AuditProgram(ProgramPath);
    if (Facts.programFile[0])
        AuditProgram(Facts.programFile);

    AuditEvent();
    if (Facts.installed)
        AuditService(name);

    // What the account itself must be able to write.
    FullPath("HOLV32.LOG", path, sizeof path);
    AccountMayWrite(path, "the host's records are lost", FILE_APPEND_DATA);
    AuditNewFile(RoleNewLog, path);
    if (plan.copy) {
        FullPath(ProgramPath, path, sizeof path);
        bool existed = IsFile(path);
        // CopyFile writes the target from its start. Evidence: MS docs
        // CopyFile ("the function fails if the destination cannot be
        // written"); FILE_WRITE_DATA, not only FILE_APPEND_DATA.
        if (!existed)
            AuditNewFile(RoleNewProgram, path);
        if (!AccountMayWrite(path, "the refresh's copy fails with error 5", FILE_WRITE_DATA) && !existed &&
            Facts.programFound) {
            Facts.programFound = false;
            Facts.startError = ERROR_FILE_NOT_FOUND;
            Finding(FindingError, "without that copy the start will not find %s: it fails with error 2", path);
        }
    }
}
