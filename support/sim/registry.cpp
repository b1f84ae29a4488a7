// Simulated platform: the one registry value a start depends on, the system
// PATH, and the expansion of %NAME% references in it.
#include "sim_state.h"

using namespace simstate;

// ---- the system environment in the registry ----------------------------------

// The system's variables live under this key of HKEY_LOCAL_MACHINE; the
// service manager builds a service's environment from them, and from no
// user's. Path is stored as REG_EXPAND_SZ, usually with %SystemRoot%.
static const char EnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// The key's one handle.
static HKEY EnvironmentHandle()
{
    static int key;
    return (HKEY)&key;
}

// The system's ANSI code page is the value ACP (REG_SZ) of this key.
static const char CodePageKey[] = "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";

static HKEY CodePageHandle()
{
    static int key;
    return (HKEY)&key;
}

namespace simstate {

// Windows leaves a reference to a variable that does not exist as it
// stands, "%NAME%" with its percent signs, and a lone percent sign too.
std::string Expand(const State& s, const std::string& text, bool processVariables)
{
    auto value = [&](const std::string& name, std::string* out) {
        if (processVariables) {
            for (const auto& [key, v] : s.environment)
                if (strcasecmp(key.c_str(), name.c_str()) == 0)
                    return (*out = v, true);
            if (strcasecmp(name.c_str(), "PATH") == 0)
                return (*out = ProcessPath(s), true);
        }
        bool root = strcasecmp(name.c_str(), "SystemRoot") == 0 || strcasecmp(name.c_str(), "windir") == 0;
        if (root && !s.script.windowsDirectory.empty())
            return (*out = s.script.windowsDirectory, true);
        for (const auto& [key, v] : s.script.systemVariables)
            if (strcasecmp(key.c_str(), name.c_str()) == 0)
                return (*out = v, true);
        return false;
    };
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
        std::string v;
        if (close == std::string::npos) {
            out += text[i++];
            continue;
        }
        out += value(text.substr(i + 1, close - i - 1), &v) ? v : text.substr(i, close + 1 - i);
        i = close + 1;
    }
    return out;
}

// The service's environment as CreateEnvironmentBlock makes it for the
// service's account: the system's Path, its references to the system's
// variables expanded, then the account's own Path, unless it is one of the
// service accounts, whose profiles carry none.
// Evidence: MS docs CreateEnvironmentBlock (the system's variables and the
// user's); the user's Path after the system's: ReactOS userenv
// CreateEnvironmentBlock (source; no test found).
std::string ServicePath(const State& s)
{
    std::string path = Expand(s, s.script.systemPath, false);
    auto it = s.script.installed.find(s.script.serviceName);
    std::string account = it != s.script.installed.end() ? it->second.startName : "LocalSystem";
    std::string sid;
    for (const auto& [name, accountSid] : s.script.access.accounts)
        if (strcasecmp(name.c_str(), account.c_str()) == 0)
            sid = accountSid;
    auto user = s.script.userPaths.find(sid);
    if (sid.empty() || user == s.script.userPaths.end() || user->second.empty())
        return path;
    return path + (path.empty() ? "" : ";") + Expand(s, user->second, false);
}

}  // namespace simstate

// One handle for each user's environment key, by SID text.
static std::map<std::string, int>& UserKeys()
{
    static std::map<std::string, int> keys;
    return keys;
}

static const std::string* UserOf(HKEY key)
{
    for (auto& [sid, k] : UserKeys())
        if ((HKEY)&k == key)
            return &sid;
    return nullptr;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    auto lock = Enter("RegOpenKeyExA", Hex((uintptr_t)key) + "," + Text(subKey) + "," + Hex(access));
    (void)options;
    // A user's hive is there while the user's profile is loaded.
    if (key == HKEY_USERS && subKey) {
        std::string sub = subKey;
        size_t slash = sub.find('\\');
        if (slash == std::string::npos || strcasecmp(sub.c_str() + slash + 1, "Environment") != 0 ||
            !S().script.userPaths.count(sub.substr(0, slash)))
            return ERROR_FILE_NOT_FOUND;
        *result = (HKEY)&UserKeys()[sub.substr(0, slash)];
        return ERROR_SUCCESS;
    }
    if (key == HKEY_LOCAL_MACHINE && subKey && strcasecmp(subKey, CodePageKey) == 0) {
        *result = CodePageHandle();
        return ERROR_SUCCESS;
    }
    if (key != HKEY_LOCAL_MACHINE || !subKey || strcasecmp(subKey, EnvironmentKey) != 0)
        return ERROR_FILE_NOT_FOUND;
    *result = EnvironmentHandle();
    return ERROR_SUCCESS;
}

// As Windows: the size counts the terminator; with no buffer, only the size
// is told; with one too small, ERROR_MORE_DATA and the size needed.
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    auto lock = Enter("RegQueryValueExA", Text(name) + "," + (size ? std::to_string(*size) : "null"));
    (void)reserved;
    bool codePage = key == CodePageHandle();
    const std::string* user = UserOf(key);
    const std::string value = codePage ? std::to_string(S().script.ansiCodePage)
                              : user   ? S().script.userPaths[*user]
                                       : S().script.systemPath;
    if (key != EnvironmentHandle() && !codePage && !user)
        return ERROR_INVALID_HANDLE;
    if (!name || strcasecmp(name, codePage ? "ACP" : "Path") != 0 || value.empty())
        return ERROR_FILE_NOT_FOUND;
    DWORD needed = (DWORD)value.size() + 1;
    if (type)
        *type = codePage ? REG_SZ : REG_EXPAND_SZ;
    if (!size)
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (data && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data)
        memcpy(data, value.c_str(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    auto lock = Enter("RegCloseKey", "");
    return key == EnvironmentHandle() || key == CodePageHandle() || UserOf(key) ? ERROR_SUCCESS
                                                                                : ERROR_INVALID_HANDLE;
}

// The count includes the terminator; a buffer too small gets nothing whole,
// and the count needed comes back.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR target, DWORD size)
{
    auto lock = Enter("ExpandEnvironmentStringsA", Text(source) + "," + std::to_string(size));
    if (!source)
        return (Fail(ERROR_INVALID_PARAMETER), 0);
    std::string out = Expand(S(), source, true);
    DWORD needed = (DWORD)out.size() + 1;
    if (target && size >= needed)
        memcpy(target, out.c_str(), needed);
    return needed;
}

// The environment key's values in turn: Path first, then the other
// variables. Evidence: MS docs RegEnumValue (ERROR_NO_MORE_ITEMS past the
// last; ERROR_MORE_DATA when a buffer is too small).
LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                          LPBYTE data, LPDWORD dataSize)
{
    auto lock = Enter("RegEnumValueA", std::to_string(index));
    (void)reserved;
    if (key != EnvironmentHandle())
        return ERROR_INVALID_HANDLE;
    std::vector<std::pair<std::string, std::string>> values;
    if (!S().script.systemPath.empty())
        values.push_back({"Path", S().script.systemPath});
    for (const auto& v : S().script.systemVariables)
        values.push_back(v);
    if (index >= values.size())
        return ERROR_NO_MORE_ITEMS;
    const auto& [n, v] = values[index];
    if (!nameSize || *nameSize < n.size() + 1 || (data && dataSize && *dataSize < v.size() + 1))
        return ERROR_MORE_DATA;
    memcpy(name, n.c_str(), n.size() + 1);
    *nameSize = (DWORD)n.size();
    if (type)
        *type = REG_EXPAND_SZ;
    if (data && dataSize)
        memcpy(data, v.c_str(), v.size() + 1);
    if (dataSize)
        *dataSize = (DWORD)v.size() + 1;
    return ERROR_SUCCESS;
}
