// Simulated platform: security descriptors of files, folders, services,
// registry keys and events, with Windows' defaults and NTFS inheritance;
// accounts, the process's token and the local Administrators group.
#include "sim_state.h"

#include <set>
#include <stdexcept>

using namespace simstate;

namespace sim {
const char* const LockedFolder = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const char* const TrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}  // namespace sim

namespace {

// Windows 10's own: C:\ gives Authenticated Users modify on what is created
// below it, and the right to make folders in the root itself; Program Files
// gives Users read and execute.
const std::string DriveRootDefault =
    "O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGRGWGX;;;AU)(A;;0x4;;;AU)";
const std::string ProgramFilesDefault = std::string("O:") + sim::TrustedInstaller + "D:PAI(A;;FA;;;" +
                                        sim::TrustedInstaller + ")(A;CIIO;GA;;;" + sim::TrustedInstaller +
                                        ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
                                        "(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)";
// What CreateService gives a service, and its registry key.
const char* const ServiceDefault =
    "O:SYD:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLOCRRC;;;IU)"
    "(A;;CCLCSWLOCRRC;;;SU)";
const char* const KeyDefault = "O:SYD:AI(A;CIID;KR;;;BU)(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)(A;CIIOID;GA;;;CO)";
// An event made by a service with default security.
const char* const EventDefault = "O:SYD:(A;;0x1f0003;;;SY)(A;;0x120001;;;BA)";
const char* const ServicesKey = "MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

const char* const Aliases[][2] = {
    {"SY", "S-1-5-18"}, {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"AU", "S-1-5-11"},
    {"WD", "S-1-1-0"},  {"IU", "S-1-5-4"},      {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},
    {"CO", "S-1-3-0"},  {"OW", "S-1-3-4"},      {"SU", "S-1-5-6"},      {"AN", "S-1-5-7"},
    {"BG", "S-1-5-32-546"}, {"LW", "S-1-16-4096"}, {"ME", "S-1-16-8192"}, {"HI", "S-1-16-12288"},
};
const std::pair<const char*, DWORD> RightCodes[] = {
    {"GA", GENERIC_ALL}, {"GR", GENERIC_READ}, {"GW", GENERIC_WRITE}, {"GX", GENERIC_EXECUTE},
    {"RC", READ_CONTROL}, {"SD", DELETE}, {"WD", WRITE_DAC}, {"WO", WRITE_OWNER},
    {"CC", 0x1}, {"DC", 0x2}, {"LC", 0x4}, {"SW", 0x8}, {"RP", 0x10}, {"WP", 0x20}, {"DT", 0x40},
    {"LO", 0x80}, {"CR", 0x100}, {"FA", 0x1f01ff}, {"FR", 0x120089}, {"FW", 0x120116}, {"FX", 0x1200a0},
    {"KA", 0xf003f}, {"KR", 0x20019}, {"KW", 0x20006}, {"KX", 0x20019},
    {"NW", 0x1}, {"NR", 0x2}, {"NX", 0x4},
};
const std::pair<const char*, BYTE> FlagCodes[] = {
    {"OI", OBJECT_INHERIT_ACE}, {"CI", CONTAINER_INHERIT_ACE}, {"NP", NO_PROPAGATE_INHERIT_ACE},
    {"IO", INHERIT_ONLY_ACE},   {"ID", INHERITED_ACE},
};
// LookupAccountSid's names of the well-known SIDs: domain, name.
const char* const WellKnown[][3] = {
    {"S-1-1-0", "", "Everyone"},
    {"S-1-3-0", "", "CREATOR OWNER"},
    {"S-1-3-4", "", "OWNER RIGHTS"},
    {"S-1-5-4", "NT AUTHORITY", "INTERACTIVE"},
    {"S-1-5-6", "NT AUTHORITY", "SERVICE"},
    {"S-1-5-11", "NT AUTHORITY", "Authenticated Users"},
    {"S-1-5-18", "NT AUTHORITY", "SYSTEM"},
    {"S-1-5-19", "NT AUTHORITY", "LOCAL SERVICE"},
    {"S-1-5-20", "NT AUTHORITY", "NETWORK SERVICE"},
    {"S-1-5-32-544", "BUILTIN", "Administrators"},
    {"S-1-5-32-545", "BUILTIN", "Users"},
    {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "NT SERVICE", "TrustedInstaller"},
};

struct Ace {
    BYTE type = ACCESS_ALLOWED_ACE_TYPE;
    BYTE flags = 0;
    DWORD mask = 0;
    std::string sid;
    // Object ACEs' GUIDs (empty: absent) and a callback ACE's condition.
    std::string objectType, inheritedObjectType, condition;
};

// The ACE types of SDDL's ACE strings and their binary codes.
// Evidence: MS docs "ACE Strings" (the type letters) and "ACE_HEADER" (the codes).
const std::pair<const char*, BYTE> AceTypes[] = {
    {"A", 0x0},  {"D", 0x1},  {"AU", 0x2}, {"AL", 0x3}, {"OA", 0x5}, {"OD", 0x6}, {"OU", 0x7}, {"OL", 0x8},
    {"XA", 0x9}, {"XD", 0xA}, {"ZA", 0xB}, {"XU", 0xD}, {"ML", 0x11}, {"RA", 0x12}, {"SP", 0x13}, {"TL", 0x14},
};
bool IsObjectAce(BYTE type) { return (type >= 0x5 && type <= 0x8) || type == 0xB || type == 0xC || type == 0xF || type == 0x10; }

struct Descriptor {
    std::string owner;
    bool nullDacl = false;
    bool isProtected = false;
    std::vector<Ace> aces;
};

std::string SidOf(const std::string& text)
{
    for (const auto& alias : Aliases)
        if (text == alias[0])
            return alias[1];
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Two-letter codes one after another, or a number.
template <typename T, size_t N>
T Codes(const std::string& text, const std::pair<const char*, T> (&table)[N])
{
    if (text.rfind("0x", 0) == 0)
        return (T)strtoul(text.c_str(), nullptr, 16);
    T value = 0;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bool known = false;
        for (const auto& code : table)
            if (text.compare(i, 2, code.first) == 0) {
                value |= code.second;
                known = true;
            }
        if (!known)
            throw std::runtime_error("unknown SDDL code " + text.substr(i, 2));
    }
    return value;
}

Descriptor Parse(const std::string& sddl)
{
    Descriptor d;
    // The parts: O:owner G:group D:dacl, each up to the next.
    std::vector<size_t> marks;
    for (size_t i = 0; i + 1 < sddl.size(); i++)
        if (strchr("OGDS", sddl[i]) && sddl[i + 1] == ':' && (i == 0 || sddl[i - 1] != '-'))
            marks.push_back(i);
    marks.push_back(sddl.size());
    for (size_t m = 0; m + 1 < marks.size(); m++) {
        std::string part = sddl.substr(marks[m] + 2, marks[m + 1] - marks[m] - 2);
        char kind = sddl[marks[m]];
        if (kind == 'O')
            d.owner = SidOf(part);
        if (kind != 'D')
            continue;
        if (part == "NO_ACCESS_CONTROL") {
            d.nullDacl = true;
            continue;
        }
        size_t open = part.find('(');
        d.isProtected = part.substr(0, open).find('P') != std::string::npos;
        while (open != std::string::npos) {
            // A condition holds parentheses of its own: the ACE ends where they balance.
            size_t close = open;
            for (int depth = 0; close < part.size(); close++) {
                depth += part[close] == '(' ? 1 : part[close] == ')' ? -1 : 0;
                if (depth == 0)
                    break;
            }
            if (close == part.size())
                throw std::runtime_error("unclosed ACE in " + sddl);
            std::string text = part.substr(open + 1, close - open - 1);
            std::vector<std::string> fields = Split(text, ';');
            if (fields.size() > 7) {  // the condition's own semicolons
                size_t at = 0;
                for (int k = 0; k < 6; k++)
                    at = text.find(';', at) + 1;
                fields.resize(6);
                fields.push_back(text.substr(at));
            }
            if (fields.size() != 6 && fields.size() != 7)
                throw std::runtime_error("bad ACE in " + sddl);
            Ace ace;
            bool known = false;
            for (const auto& type : AceTypes)
                if (fields[0] == type.first) {
                    ace.type = type.second;
                    known = true;
                }
            // A type SDDL has no letters for, by its number, laid out as a plain ACE.
            if (!known && fields[0].rfind("0x", 0) == 0) {
                ace.type = (BYTE)strtoul(fields[0].c_str(), nullptr, 16);
                known = true;
            }
            if (!known)
                throw std::runtime_error("unknown ACE type " + fields[0] + " in " + sddl);
            bool callback = ace.type == 0x9 || ace.type == 0xA || ace.type == 0xB || ace.type == 0xD;
            if (fields.size() == 7 && !callback)
                throw std::runtime_error("a condition on an ACE that takes none in " + sddl);
            ace.flags = Codes(fields[1], FlagCodes);
            ace.mask = Codes(fields[2], RightCodes);
            ace.objectType = fields[3];
            ace.inheritedObjectType = fields[4];
            if ((!ace.objectType.empty() || !ace.inheritedObjectType.empty()) && !IsObjectAce(ace.type))
                throw std::runtime_error("a GUID on an ACE that takes none in " + sddl);
            ace.sid = SidOf(fields[5]);
            if (fields.size() == 7)
                ace.condition = fields[6];
            d.aces.push_back(ace);
            open = part.find('(', close);
        }
    }
    return d;
}

std::vector<BYTE> SidBytes(const std::string& text)
{
    std::vector<std::string> parts = Split(text, '-');
    if (parts.size() < 3 || parts[0] != "S")
        throw std::runtime_error("bad SID " + text);
    uint64_t authority = std::stoull(parts[2]);
    std::vector<BYTE> bytes{1, (BYTE)(parts.size() - 3)};
    for (int shift = 40; shift >= 0; shift -= 8)
        bytes.push_back((BYTE)(authority >> shift));
    for (size_t i = 3; i < parts.size(); i++) {
        DWORD sub = (DWORD)std::stoul(parts[i]);
        for (int k = 0; k < 4; k++)
            bytes.push_back((BYTE)(sub >> (8 * k)));
    }
    return bytes;
}

std::string SidText(const void* sid)
{
    const BYTE* b = (const BYTE*)sid;
    uint64_t authority = 0;
    for (int i = 2; i < 8; i++)
        authority = (authority << 8) | b[i];
    std::string text = "S-" + std::to_string(b[0]) + "-" + std::to_string(authority);
    for (int i = 0; i < b[1]; i++) {
        DWORD sub;
        memcpy(&sub, b + 8 + 4 * i, 4);
        text += "-" + std::to_string(sub);
    }
    return text;
}

void Put(std::vector<BYTE>& out, size_t at, DWORD value, int size)
{
    for (int k = 0; k < size; k++)
        out[at + k] = (BYTE)(value >> (8 * k));
}

// The self-relative form: header, owner, DACL.
std::vector<BYTE> Binary(const Descriptor& d)
{
    std::vector<BYTE> out(20, 0);
    out[0] = 1;
    WORD control = 0x8000 | 0x4;  // self-relative, DACL present
    if (d.isProtected)
        control |= 0x1000;
    Put(out, 2, control, 2);
    if (!d.owner.empty()) {
        Put(out, 4, (DWORD)out.size(), 4);
        std::vector<BYTE> sid = SidBytes(d.owner);
        out.insert(out.end(), sid.begin(), sid.end());
    }
    if (d.nullDacl)
        return out;
    size_t acl = out.size();
    Put(out, 16, (DWORD)acl, 4);
    out.resize(acl + 8, 0);
    out[acl] = 2;
    for (const Ace& ace : d.aces) {
        // Each type's own layout: header and mask; an object ACE's flags and
        // GUIDs; the SID; a callback's condition as application data.
        // Evidence: MS docs ACCESS_ALLOWED_ACE, ACCESS_ALLOWED_OBJECT_ACE,
        // ACCESS_ALLOWED_CALLBACK_ACE (the condition follows the SID, "artx").
        std::vector<BYTE> body;
        if (IsObjectAce(ace.type)) {
            DWORD present = (ace.objectType.empty() ? 0 : 1) | (ace.inheritedObjectType.empty() ? 0 : 2);
            body.resize(4);
            Put(body, 0, present, 4);
            for (const std::string* guid : {&ace.objectType, &ace.inheritedObjectType})
                if (!guid->empty())
                    for (int k = 0; k < 16; k++)
                        body.push_back((BYTE)std::hash<std::string>{}(*guid + std::to_string(k)));
        }
        std::vector<BYTE> sid = SidBytes(ace.sid);
        body.insert(body.end(), sid.begin(), sid.end());
        if (!ace.condition.empty()) {
            const char artx[] = "artx";
            body.insert(body.end(), artx, artx + 4);
            body.insert(body.end(), ace.condition.begin(), ace.condition.end());
            while (body.size() % 4)
                body.push_back(0);
        }
        size_t at = out.size();
        out.resize(at + 8 + body.size(), 0);
        out[at] = ace.type;
        out[at + 1] = ace.flags;
        Put(out, at + 2, (DWORD)(8 + body.size()), 2);
        Put(out, at + 4, ace.mask, 4);
        memcpy(&out[at + 8], body.data(), body.size());
    }
    Put(out, acl + 2, (DWORD)(out.size() - acl), 2);
    Put(out, acl + 4, (DWORD)d.aces.size(), 2);
    return out;
}

DWORD MapFileGeneric(DWORD mask)
{
    DWORD mapped = mask & 0x0FFFFFFF;
    if (mask & GENERIC_READ)
        mapped |= 0x120089;
    if (mask & GENERIC_WRITE)
        mapped |= 0x120116;
    if (mask & GENERIC_EXECUTE)
        mapped |= 0x1200a0;
    if (mask & GENERIC_ALL)
        mapped |= 0x1f01ff;
    return mapped;
}

// What a new file or folder takes from its folder's DACL: an effective copy
// where the ACE applies to it (generic rights mapped, CREATOR OWNER as the
// owner), and an inherit-only copy where it is to go on to what lies below.
std::vector<Ace> Inherited(const Descriptor& parent, bool folder, const std::string& owner)
{
    std::vector<Ace> out;
    for (const Ace& ace : parent.aces) {
        BYTE inherit = ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        if (!inherit)
            continue;
        bool applies = folder ? (ace.flags & CONTAINER_INHERIT_ACE) : (ace.flags & OBJECT_INHERIT_ACE);
        bool goesOn = folder && !(ace.flags & NO_PROPAGATE_INHERIT_ACE);
        if (applies) {
            Ace e = ace;
            e.flags = INHERITED_ACE;
            e.mask = MapFileGeneric(ace.mask);
            if (e.sid == "S-1-3-0")
                e.sid = owner;
            out.push_back(e);
        }
        if (goesOn) {
            Ace e = ace;
            e.flags = inherit | INHERIT_ONLY_ACE | INHERITED_ACE;
            out.push_back(e);
        }
    }
    return out;
}

// A name read through a junction or symbolic link is its target's: the
// descriptor is the target's. Evidence: MS docs "Reparse Points" (a file
// opened without FILE_FLAG_OPEN_REPARSE_POINT is its target).
std::string Real(const std::string& native)
{
    std::error_code error;
    fs::path real = fs::weakly_canonical(fs::path(Absolute(native)), error);
    return error ? Absolute(native) : real.string();
}

const std::string* Given(const std::map<std::string, std::string>& map, const std::string& path)
{
    for (const auto& [key, value] : map)
        if (Real(Native(key.c_str())) == path)
            return &value;
    return nullptr;
}

// A file's own descriptor, without what it takes from its folder: one set
// since the start, else the script's, else Windows' default for C:\ and
// Program Files; "" for one that has nothing but what is passed on.
std::string OwnText(const sim::AccessScript& access, const std::string& path)
{
    auto set = S().descriptors.find(path);
    if (set != S().descriptors.end())
        return set->second;
    const std::string* given = Given(access.files, path);
    std::string text = given ? *given
                       : !access.driveRoot.empty() && path == Real(Native(access.driveRoot.c_str()))
                           ? DriveRootDefault
                       : !access.programFiles.empty() && path == Real(Native(access.programFiles.c_str()))
                           ? ProgramFilesDefault
                           : "";
    std::string parent = fs::path(path).parent_path().string();
    if (text.empty() && (parent.empty() || parent == path))
        text = sim::LockedFolder;
    return text;
}

Descriptor FileDescriptor(const sim::AccessScript& access, const std::string& path, bool folder)
{
    std::string parent = fs::path(path).parent_path().string();
    Descriptor d = Parse(OwnText(access, path));
    if (d.owner.empty())
        d.owner = "S-1-5-32-544";  // made by an administrator
    if (d.isProtected || d.nullDacl || parent.empty() || parent == path)
        return d;
    std::vector<Ace> inherited = Inherited(FileDescriptor(access, parent, true), folder, d.owner);
    d.aces.insert(d.aces.end(), inherited.begin(), inherited.end());
    return d;
}

bool SameText(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// The descriptor of a named object, or the error GetNamedSecurityInfo gives.
DWORD Lookup(State& s, const std::string& name, SE_OBJECT_TYPE type, Descriptor* d)
{
    const sim::AccessScript& access = s.script.access;
    if (type == SE_FILE_OBJECT) {
        // Evidence: MS docs "Naming Files, Paths, and Namespaces" (? and *
        // are reserved): the name is refused before anything is looked up.
        if (DWORD error = NameError(name.c_str(), false))
            return error;
        std::string native = Native(name.c_str());
        struct stat st;
        if (name.empty() || stat(native.c_str(), &st) != 0)
            return ERROR_FILE_NOT_FOUND;
        *d = FileDescriptor(access, Real(native), S_ISDIR(st.st_mode));
        return ERROR_SUCCESS;
    }
    if (type == SE_REGISTRY_KEY) {
        for (const auto& [key, text] : access.keys)
            if (SameText(key, name)) {
                *d = Parse(text);
                return ERROR_SUCCESS;
            }
        size_t prefix = strlen(ServicesKey);
        std::string service = name.size() > prefix ? name.substr(prefix) : "";
        bool installed = s.script.serviceName == service || s.script.installed.count(service);
        if (!SameText(name.substr(0, prefix), ServicesKey) || !installed)
            return ERROR_FILE_NOT_FOUND;
        *d = Parse(KeyDefault);
        return ERROR_SUCCESS;
    }
    if (type == SE_KERNEL_OBJECT) {
        std::string event = name.rfind("Global\\", 0) == 0 ? name.substr(7) : name;
        auto held = s.events.find(event);
        if (held == s.events.end() || held->second.handles <= 0)
            return ERROR_FILE_NOT_FOUND;
        auto given = access.events.find(event);
        *d = Parse(given != access.events.end() ? given->second : EventDefault);
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
}

// What GetNamedSecurityInfo and NetLocalGroupGetMembers hand out, until it
// is given back.
std::set<void*>& Allocated()
{
    static std::set<void*> blocks;
    return blocks;
}

void* Allocate(size_t size)
{
    void* block = calloc(1, size);
    Allocated().insert(block);
    return block;
}

// Offsets in a self-relative descriptor.
DWORD Field(const void* descriptor, int at)
{
    DWORD value;
    memcpy(&value, (const BYTE*)descriptor + at, 4);
    return value;
}

bool FindAccount(const std::string& sid, std::string* domain, std::string* name, SID_NAME_USE* use)
{
    for (const auto& known : WellKnown)
        if (sid == known[0]) {
            *domain = known[1];
            *name = known[2];
            *use = strcmp(known[1], "BUILTIN") == 0 ? SidTypeAlias : SidTypeWellKnownGroup;
            return true;
        }
    for (const auto& [account, accountSid] : S().script.access.accounts)
        if (accountSid == sid) {
            size_t slash = account.find('\\');
            *domain = slash == std::string::npos ? "" : account.substr(0, slash);
            *name = slash == std::string::npos ? account : account.substr(slash + 1);
            *use = SidTypeUser;
            return true;
        }
    return false;
}

template <typename Char>
bool CopyOut(const std::string& text, Char* out, LPDWORD size)
{
    if (text.size() + 1 > *size) {
        *size = (DWORD)text.size() + 1;
        return false;
    }
    for (size_t i = 0; i <= text.size(); i++)
        out[i] = (Char)(unsigned char)text.c_str()[i];
    *size = (DWORD)text.size();
    return true;
}

template <typename Char>
BOOL LookupSid(PSID sid, Char* name, LPDWORD nameSize, Char* domain, LPDWORD domainSize, SID_NAME_USE* use)
{
    std::string d, n;
    if (!sid || !FindAccount(SidText(sid), &d, &n, use))
        return Fail(ERROR_NONE_MAPPED);
    bool fits = CopyOut(n, name, nameSize);
    fits = CopyOut(d, domain, domainSize) && fits;
    return fits ? TRUE : Fail(ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace

DWORD WINAPI GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                   PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    auto lock = Enter("GetNamedSecurityInfoA", Text(name) + "," + std::to_string(type) + "," + Hex(info));
    Descriptor d;
    DWORD error = Lookup(S(), name ? name : "", type, &d);
    if (error)
        return error;
    std::vector<BYTE> bytes = Binary(d);
    BYTE* block = (BYTE*)Allocate(bytes.size());
    memcpy(block, bytes.data(), bytes.size());
    if (owner)
        *owner = (info & OWNER_SECURITY_INFORMATION) && Field(block, 4) ? block + Field(block, 4) : nullptr;
    if (group)
        *group = nullptr;
    if (sacl)
        *sacl = nullptr;
    if (dacl)
        *dacl = (info & DACL_SECURITY_INFORMATION) && Field(block, 16) ? (PACL)(block + Field(block, 16)) : nullptr;
    if (descriptor)
        *descriptor = block;
    return ERROR_SUCCESS;
}

HLOCAL WINAPI LocalFree(HLOCAL memory)
{
    if (!memory)
        return nullptr;
    if (!Allocated().erase(memory))
        return (Fail(ERROR_INVALID_HANDLE), memory);
    free(memory);
    return nullptr;
}

BOOL WINAPI QueryServiceObjectSecurity(SC_HANDLE service, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor,
                                       DWORD size, LPDWORD needed)
{
    auto lock = Enter("QueryServiceObjectSecurity", Hex(info) + "," + std::to_string(size));
    State& s = S();
    Handle* h = Find(s, (HANDLE)service);
    if (!h || h->kind != Kind::Service)
        return Fail(ERROR_INVALID_HANDLE);
    auto given = s.script.access.services.find(h->name);
    std::vector<BYTE> bytes = Binary(Parse(given != s.script.access.services.end() ? given->second : ServiceDefault));
    *needed = (DWORD)bytes.size();
    if (!descriptor || size < bytes.size())
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, BOOL* defaulted)
{
    DWORD at = Field(descriptor, 4);
    *owner = at ? (BYTE*)descriptor + at : nullptr;
    *defaulted = FALSE;
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL* present, PACL* dacl, BOOL* defaulted)
{
    WORD control;
    memcpy(&control, (BYTE*)descriptor + 2, 2);
    DWORD at = Field(descriptor, 16);
    *present = (control & 0x4) != 0;
    *dacl = at ? (PACL)((BYTE*)descriptor + at) : nullptr;
    *defaulted = FALSE;
    return TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace)
{
    if (!acl || index >= acl->AceCount)
        return Fail(ERROR_INVALID_PARAMETER);
    BYTE* at = (BYTE*)acl + sizeof(ACL);
    for (DWORD i = 0; i < index; i++)
        at += ((ACE_HEADER*)at)->AceSize;
    *ace = at;
    return TRUE;
}

BOOL WINAPI LookupAccountSidA(LPCSTR system, PSID sid, LPSTR name, LPDWORD nameSize, LPSTR domain,
                              LPDWORD domainSize, SID_NAME_USE* use)
{
    auto lock = Enter("LookupAccountSidA", sid ? SidText(sid) : "null");
    (void)system;
    return LookupSid(sid, name, nameSize, domain, domainSize, use);
}

BOOL WINAPI LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameSize, LPWSTR domain,
                              LPDWORD domainSize, SID_NAME_USE* use)
{
    auto lock = Enter("LookupAccountSidW", sid ? SidText(sid) : "null");
    (void)system;
    return LookupSid(sid, name, nameSize, domain, domainSize, use);
}

BOOL WINAPI LookupAccountNameA(LPCSTR system, LPCSTR name, PSID sid, LPDWORD sidSize, LPSTR domain,
                               LPDWORD domainSize, SID_NAME_USE* use)
{
    auto lock = Enter("LookupAccountNameA", Text(name));
    (void)system;
    std::string wanted = name ? name : "", found;
    for (const auto& known : WellKnown)
        if (SameText(wanted, std::string(known[1]) + (known[1][0] ? "\\" : "") + known[2]) || SameText(wanted, known[2]))
            found = known[0];
    for (const auto& [account, accountSid] : S().script.access.accounts)
        if (SameText(wanted, account) || SameText(wanted, account.substr(account.find('\\') + 1)))
            found = accountSid;
    std::string d, n;
    if (found.empty() || !FindAccount(found, &d, &n, use))
        return Fail(ERROR_NONE_MAPPED);
    std::vector<BYTE> bytes = SidBytes(found);
    bool fits = bytes.size() <= *sidSize;
    if (fits)
        memcpy(sid, bytes.data(), bytes.size());
    *sidSize = (DWORD)bytes.size();
    fits = CopyOut(d, domain, domainSize) && fits;
    return fits ? TRUE : Fail(ERROR_INSUFFICIENT_BUFFER);
}

NET_API_STATUS WINAPI NetLocalGroupGetMembers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                              DWORD preferredSize, LPDWORD read, LPDWORD total, PDWORD_PTR resume)
{
    auto lock = Enter("NetLocalGroupGetMembers", std::to_string(level));
    (void)server, (void)preferredSize, (void)resume;
    std::wstring name = group ? group : L"";
    if (name != L"Administrators")
        return 2220;  // NERR_GroupNotFound
    if (level != 0)
        return ERROR_INVALID_PARAMETER;
    const std::vector<std::string>& members = S().script.access.administrators;
    std::vector<std::vector<BYTE>> sids;
    size_t size = members.size() * sizeof(LOCALGROUP_MEMBERS_INFO_0);
    for (const std::string& member : members) {
        sids.push_back(SidBytes(member));
        size += sids.back().size();
    }
    BYTE* block = (BYTE*)Allocate(size ? size : 1);
    LOCALGROUP_MEMBERS_INFO_0* info = (LOCALGROUP_MEMBERS_INFO_0*)block;
    BYTE* at = block + members.size() * sizeof(LOCALGROUP_MEMBERS_INFO_0);
    for (size_t i = 0; i < sids.size(); i++) {
        memcpy(at, sids[i].data(), sids[i].size());
        info[i].lgrmi0_sid = at;
        at += sids[i].size();
    }
    *buffer = block;
    *read = *total = (DWORD)members.size();
    return NERR_Success;
}

NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer)
{
    return LocalFree(buffer) ? ERROR_INVALID_PARAMETER : NERR_Success;
}

HANDLE WINAPI GetCurrentProcess(void) { return (HANDLE)(intptr_t)-1; }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token)
{
    auto lock = Enter("OpenProcessToken", Hex(access));
    if (process != GetCurrentProcess())
        return Fail(ERROR_INVALID_HANDLE);
    // Closed with CloseHandle as a thread's handle is.
    *token = NewHandle(S(), {Kind::Thread, "token"});
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID buffer, DWORD size, LPDWORD needed)
{
    auto lock = Enter("GetTokenInformation", std::to_string(kind));
    State& s = S();
    Handle* h = Find(s, token);
    if (!h || h->name != "token")
        return Fail(ERROR_INVALID_HANDLE);
    if (kind != TokenUser)
        return Fail(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> sid = SidBytes(s.script.access.user);
    *needed = (DWORD)(sizeof(TOKEN_USER) + sid.size());
    if (!buffer || size < *needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    TOKEN_USER* user = (TOKEN_USER*)buffer;
    memcpy(user + 1, sid.data(), sid.size());
    user->User.Sid = user + 1;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, BOOL* member)
{
    auto lock = Enter("CheckTokenMembership", sid ? SidText(sid) : "null");
    if (token || !sid)
        return Fail(ERROR_INVALID_PARAMETER);
    const sim::AccessScript& access = S().script.access;
    std::string wanted = SidText(sid);
    const auto& admins = access.administrators;
    bool admin = std::find(admins.begin(), admins.end(), access.user) != admins.end();
    *member = wanted == access.user || (wanted == "S-1-5-32-544" && admin) || wanted == "S-1-1-0";
    return TRUE;
}

// ---- Descriptors built in memory and set on folders: the package's lock.

namespace {

// SDDL text of a descriptor, in the form Parse reads: rights in hex, SIDs
// spelt out, flags in letters.
std::string Sddl(const Descriptor& d, bool owner = true)
{
    std::string text = owner && !d.owner.empty() ? "O:" + d.owner : "";
    text += "D:";
    if (d.nullDacl)
        return text + "NO_ACCESS_CONTROL";
    if (d.isProtected)
        text += "P";
    for (const Ace& ace : d.aces) {
        std::string type = Hex(ace.type), flags;
        for (const auto& known : AceTypes)
            if (known.second == ace.type)
                type = known.first;
        for (const auto& flag : FlagCodes)
            if (ace.flags & flag.second)
                flags += flag.first;
        char mask[16];
        snprintf(mask, sizeof mask, "0x%x", (unsigned)ace.mask);
        text += "(" + type + ";" + flags + ";" + mask + ";" + ace.objectType + ";" + ace.inheritedObjectType + ";" +
                ace.sid + (ace.condition.empty() ? "" : ";" + ace.condition) + ")";
    }
    return text;
}

DWORD SidLength(const void* sid) { return 8 + 4 * ((const BYTE*)sid)[1]; }

// An ACL in Windows' layout, as the ACEs Parse makes; an object ACE's GUIDs
// are not read back.
std::vector<Ace> DecodeAcl(const ACL* acl)
{
    std::vector<Ace> aces;
    const BYTE* at = (const BYTE*)acl + sizeof(ACL);
    for (WORD i = 0; acl && i < acl->AceCount; i++) {
        const ACE_HEADER* header = (const ACE_HEADER*)at;
        Ace ace;
        ace.type = header->AceType;
        ace.flags = header->AceFlags;
        memcpy(&ace.mask, at + 4, 4);
        const BYTE* sid = at + 8;
        if (IsObjectAce(ace.type)) {
            DWORD present;
            memcpy(&present, sid, 4);
            sid += 4 + 16 * (((present & 1) ? 1 : 0) + ((present & 2) ? 1 : 0));
        }
        ace.sid = SidText(sid);
        const BYTE* rest = sid + SidLength(sid);
        if (rest + 4 <= at + header->AceSize && memcmp(rest, "artx", 4) == 0)
            ace.condition = std::string((const char*)rest + 4, strnlen((const char*)rest + 4, at + header->AceSize - rest - 4));
        aces.push_back(ace);
        at += header->AceSize;
    }
    return aces;
}

// A descriptor in either form: self-relative (offsets) or absolute (pointers).
Descriptor Decode(const void* descriptor)
{
    Descriptor d;
    WORD control;
    memcpy(&control, (const BYTE*)descriptor + 2, 2);
    const void* owner;
    const ACL* dacl;
    if (control & SE_SELF_RELATIVE) {
        owner = Field(descriptor, 4) ? (const BYTE*)descriptor + Field(descriptor, 4) : nullptr;
        dacl = Field(descriptor, 16) ? (const ACL*)((const BYTE*)descriptor + Field(descriptor, 16)) : nullptr;
    } else {
        owner = ((const SECURITY_DESCRIPTOR*)descriptor)->Owner;
        dacl = ((const SECURITY_DESCRIPTOR*)descriptor)->Dacl;
    }
    if (owner)
        d.owner = SidText(owner);
    d.isProtected = (control & SE_DACL_PROTECTED) != 0;
    d.nullDacl = (control & SE_DACL_PRESENT) && !dacl;
    d.aces = DecodeAcl(dacl);
    return d;
}

// What a folder's own descriptor becomes when an owner or a DACL is set on
// it: the ACEs given, less those marked inherited (they come from the
// parent); protected as the flags say, or as it was when neither is given.
// Evidence: MS docs SECURITY_INFORMATION (PROTECTED_DACL_SECURITY_INFORMATION:
// "The DACL cannot inherit ACEs"; UNPROTECTED_: "The DACL inherits ACEs from
// the parent object"), SetSecurityInfo.
void SetOwn(const std::string& path, SECURITY_INFORMATION info, PSID owner, PACL dacl)
{
    Descriptor d = Parse(OwnText(S().script.access, path));
    if ((info & OWNER_SECURITY_INFORMATION) && owner)
        d.owner = SidText(owner);
    if (info & DACL_SECURITY_INFORMATION) {
        d.nullDacl = !dacl;
        d.aces.clear();
        for (const Ace& ace : DecodeAcl(dacl))
            if (!(ace.flags & INHERITED_ACE))
                d.aces.push_back(ace);
        if (info & PROTECTED_DACL_SECURITY_INFORMATION)
            d.isProtected = true;
        else if (info & UNPROTECTED_DACL_SECURITY_INFORMATION)
            d.isProtected = false;
    }
    S().descriptors[path] = Sddl(d);
}

bool IsLink(const std::string& native)
{
    struct stat st;
    return lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsFolder(const std::string& native)
{
    struct stat st;
    return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

template <typename T>
void* Copy(const std::vector<T>& bytes)
{
    void* block = Allocate(bytes.size() * sizeof(T));
    memcpy(block, bytes.data(), bytes.size() * sizeof(T));
    return block;
}

}  // namespace

namespace sim {
std::string FolderSddl(const std::string& path)
{
    std::lock_guard<std::mutex> lock(S().m);
    std::string native = Real(Native(path.c_str()));
    Descriptor d = FileDescriptor(S().script.access, native, true);
    return Sddl(d);
}
}  // namespace sim

BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size)
{
    (void)domain;
    const char* text = type == WinLocalSystemSid             ? "S-1-5-18"
                       : type == WinBuiltinAdministratorsSid ? "S-1-5-32-544"
                       : type == WinBuiltinUsersSid          ? "S-1-5-32-545"
                                                             : nullptr;
    if (!text)
        return Fail(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> bytes = SidBytes(text);
    if (!sid || *size < bytes.size())
        return (*size = (DWORD)bytes.size(), Fail(ERROR_INSUFFICIENT_BUFFER));
    memcpy(sid, bytes.data(), bytes.size());
    *size = (DWORD)bytes.size();
    return TRUE;
}

DWORD WINAPI GetLengthSid(PSID sid) { return SidLength(sid); }

BOOL WINAPI EqualSid(PSID a, PSID b)
{
    LastError = 0;
    return a && b && SidLength(a) == SidLength(b) && memcmp(a, b, SidLength(a)) == 0;
}

BOOL WINAPI CopySid(DWORD size, PSID to, PSID from)
{
    if (size < SidLength(from))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(to, from, SidLength(from));
    return TRUE;
}

BOOL WINAPI ConvertStringSidToSidW(LPCWSTR text, PSID* sid)
{
    try {
        *sid = Copy(SidBytes(SidOf(Narrow(text))));
        return TRUE;
    } catch (const std::exception&) {
        return Fail(ERROR_INVALID_SID);
    }
}

BOOL WINAPI InitializeAcl(PACL acl, DWORD size, DWORD revision)
{
    if (size < sizeof(ACL) || size > 0xFFFF || revision != ACL_REVISION)
        return Fail(ERROR_INVALID_PARAMETER);
    acl->AclRevision = (BYTE)revision;
    acl->Sbz1 = 0;
    acl->AclSize = (WORD)size;
    acl->AceCount = 0;
    acl->Sbz2 = 0;
    return TRUE;
}

// Evidence: MS docs AddAccessAllowedAceEx (added at the end of the ACL;
// ERROR_ALLOTTED_SPACE_EXCEEDED when it does not fit).
BOOL WINAPI AddAccessAllowedAceEx(PACL acl, DWORD revision, DWORD flags, DWORD mask, PSID sid)
{
    if (!acl || revision != ACL_REVISION || !sid)
        return Fail(ERROR_INVALID_PARAMETER);
    BYTE* at = (BYTE*)acl + sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; i++)
        at += ((ACE_HEADER*)at)->AceSize;
    DWORD size = 8 + SidLength(sid);
    if (at + size > (BYTE*)acl + acl->AclSize)
        return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, (BYTE)flags, (WORD)size};
    memcpy(at, &header, 4);
    memcpy(at + 4, &mask, 4);
    memcpy(at + 8, sid, SidLength(sid));
    acl->AceCount++;
    return TRUE;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision)
{
    if (revision != SECURITY_DESCRIPTOR_REVISION)
        return Fail(ERROR_INVALID_PARAMETER);
    memset(descriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    ((SECURITY_DESCRIPTOR*)descriptor)->Revision = (BYTE)revision;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted)
{
    (void)defaulted;
    ((SECURITY_DESCRIPTOR*)descriptor)->Owner = owner;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted)
{
    (void)defaulted;
    SECURITY_DESCRIPTOR* d = (SECURITY_DESCRIPTOR*)descriptor;
    d->Dacl = present ? dacl : nullptr;
    d->Control = present ? d->Control | SE_DACL_PRESENT : d->Control & ~SE_DACL_PRESENT;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                         SECURITY_DESCRIPTOR_CONTROL bits)
{
    SECURITY_DESCRIPTOR* d = (SECURITY_DESCRIPTOR*)descriptor;
    d->Control = (WORD)((d->Control & ~mask) | (bits & mask));
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL* control,
                                         LPDWORD revision)
{
    memcpy(control, (BYTE*)descriptor + 2, 2);
    *revision = ((BYTE*)descriptor)[0];
    return TRUE;
}

BOOL WINAPI ConvertSecurityDescriptorToStringSecurityDescriptorW(PSECURITY_DESCRIPTOR descriptor, DWORD revision,
                                                                 SECURITY_INFORMATION info, LPWSTR* text,
                                                                 PULONG length)
{
    if (!descriptor || revision != SDDL_REVISION_1)
        return Fail(ERROR_INVALID_PARAMETER);
    Descriptor d = Decode(descriptor);
    std::string sddl = Sddl(d, (info & OWNER_SECURITY_INFORMATION) != 0);
    if (!(info & DACL_SECURITY_INFORMATION))
        sddl = sddl.substr(0, sddl.find("D:"));
    std::wstring wide(sddl.begin(), sddl.end());
    *text = (LPWSTR)Copy(std::vector<wchar_t>(wide.c_str(), wide.c_str() + wide.size() + 1));
    if (length)
        *length = (unsigned long)wide.size() + 1;
    return TRUE;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor, PULONG size)
{
    if (!text || revision != SDDL_REVISION_1)
        return Fail(ERROR_INVALID_PARAMETER);
    try {
        std::vector<BYTE> bytes = Binary(Parse(Narrow(text)));
        *descriptor = Copy(bytes);
        if (size)
            *size = (unsigned long)bytes.size();
        return TRUE;
    } catch (const std::exception&) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
}

DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                   PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    return GetNamedSecurityInfoA(Narrow(name).c_str(), type, info, owner, group, dacl, sacl, descriptor);
}

// Evidence: MS docs GetSecurityInfo and SetSecurityInfo (the handle needs
// READ_CONTROL to read, WRITE_OWNER and WRITE_DAC to set).
DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    auto lock = Enter("GetSecurityInfo", Hex(info));
    Handle* h = Find(S(), handle);
    if (!h || h->kind != Kind::File || type != SE_FILE_OBJECT)
        return ERROR_INVALID_HANDLE;
    if (!(h->access & READ_CONTROL))
        return ERROR_ACCESS_DENIED;
    std::vector<BYTE> bytes = Binary(FileDescriptor(S().script.access, Real(h->name), IsFolder(h->name)));
    BYTE* block = (BYTE*)Copy(bytes);
    if (owner)
        *owner = (info & OWNER_SECURITY_INFORMATION) && Field(block, 4) ? block + Field(block, 4) : nullptr;
    if (group)
        *group = nullptr;
    if (sacl)
        *sacl = nullptr;
    if (dacl)
        *dacl = (info & DACL_SECURITY_INFORMATION) && Field(block, 16) ? (PACL)(block + Field(block, 16)) : nullptr;
    if (descriptor)
        *descriptor = block;
    else
        LocalFree(block);
    return ERROR_SUCCESS;
}

DWORD WINAPI SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                             PACL dacl, PACL sacl)
{
    auto lock = Enter("SetSecurityInfo", Hex(info));
    (void)group, (void)sacl;
    Handle* h = Find(S(), handle);
    if (!h || h->kind != Kind::File || type != SE_FILE_OBJECT)
        return ERROR_INVALID_HANDLE;
    if (((info & OWNER_SECURITY_INFORMATION) && !(h->access & WRITE_OWNER)) ||
        ((info & DACL_SECURITY_INFORMATION) && !(h->access & WRITE_DAC)))
        return ERROR_ACCESS_DENIED;
    SetOwn(h->link ? Absolute(h->name) : Real(h->name), info, owner, dacl);
    return ERROR_SUCCESS;
}

HANDLE WINAPI GetCurrentThread(void) { return (HANDLE)(intptr_t)-2; }

// A thread that impersonates no one has no token of its own.
// Evidence: MS docs OpenThreadToken (ERROR_NO_TOKEN when the thread is not
// impersonating).
BOOL WINAPI OpenThreadToken(HANDLE thread, DWORD access, BOOL self, HANDLE* token)
{
    (void)thread, (void)access, (void)self, (void)token;
    return Fail(ERROR_NO_TOKEN);
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, LUID* luid)
{
    (void)system;
    luid->LowPart = (DWORD)std::hash<std::string>{}(Narrow(name));
    luid->HighPart = 0;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD size,
                                  PTOKEN_PRIVILEGES previous, LPDWORD needed)
{
    auto lock = Enter("AdjustTokenPrivileges", "");
    (void)disableAll, (void)state, (void)size, (void)previous, (void)needed;
    Handle* h = Find(S(), token);
    if (!h || h->name != "token")
        return Fail(ERROR_INVALID_HANDLE);
    LastError = 0;
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) { return GetFileAttributesA(Narrow(path).c_str()); }

// A folder made with a descriptor has it as its own; without one it takes
// what its parent passes on. Evidence: MS docs CreateDirectory
// (lpSecurityAttributes; ERROR_ALREADY_EXISTS, ERROR_PATH_NOT_FOUND).
BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    std::string name = Narrow(path);
    auto lock = Enter("CreateDirectoryW", Text(name.c_str()));
    if (DWORD error = NameError(name.c_str(), false))
        return Fail(error);
    std::string native = Native(name.c_str());
    struct stat st;
    if (lstat(native.c_str(), &st) == 0)
        return Fail(ERROR_ALREADY_EXISTS);
    if (mkdir(native.c_str(), 0755) != 0)
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    if (attributes && attributes->lpSecurityDescriptor) {
        Descriptor d = Decode(attributes->lpSecurityDescriptor);
        std::vector<Ace> own;
        for (const Ace& ace : d.aces)
            if (!(ace.flags & INHERITED_ACE))
                own.push_back(ace);
        d.aces = own;
        S().descriptors[Real(native)] = Sddl(d);
    }
    return TRUE;
}

// A junction or link is removed itself, never what it leads to.
// Evidence: MS docs RemoveDirectory ("If the path points to a symbolic link,
// the symbolic link is removed"; the folder must be empty).
BOOL WINAPI RemoveDirectoryW(LPCWSTR path)
{
    std::string name = Narrow(path);
    auto lock = Enter("RemoveDirectoryW", Text(name.c_str()));
    std::string native = Native(name.c_str());
    if (IsLink(native))
        return unlink(native.c_str()) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
    std::string real = Real(native);
    if (rmdir(native.c_str()) != 0)
        return Fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : errno == ENOTEMPTY ? ERROR_DIR_NOT_EMPTY
                    : errno == ENOTDIR ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
    S().descriptors.erase(real);
    return TRUE;
}

// A folder opens only with backup semantics; with FILE_FLAG_OPEN_REPARSE_POINT
// a junction or link opens as itself. Evidence: MS docs CreateFile
// ("Directories": FILE_FLAG_BACKUP_SEMANTICS; FILE_FLAG_OPEN_REPARSE_POINT).
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                          DWORD disposition, DWORD flags, HANDLE templateFile)
{
    std::string name = Narrow(path);
    std::string native = Native(name.c_str());
    bool link = (flags & FILE_FLAG_OPEN_REPARSE_POINT) && IsLink(native);
    if (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || (!link && !IsFolder(native)))
        return CreateFileA(name.c_str(), access, share, attributes, disposition, flags, templateFile);
    auto lock = Enter("CreateFileW", Text(name.c_str()) + "," + Hex(access));
    if (disposition != OPEN_EXISTING)
        return (Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE);
    Handle h{Kind::File, native};
    h.pid = (DWORD)-1;  // no descriptor of this machine to read or write
    h.access = access;
    h.share = share;
    h.link = link;
    return NewHandle(S(), h);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info)
{
    auto lock = Enter("GetFileInformationByHandle", "");
    Handle* h = Find(S(), file);
    if (!h || h->kind != Kind::File)
        return Fail(ERROR_INVALID_HANDLE);
    memset(info, 0, sizeof *info);
    bool folder = IsFolder(h->name);
    info->dwFileAttributes = (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL) |
                             (h->link ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    info->nNumberOfLinks = 1;
    return TRUE;
}
