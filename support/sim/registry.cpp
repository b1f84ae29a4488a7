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

std::string ServicePath(const State& s) { return Expand(s, s.script.systemPath, false); }

}  // namespace simstate

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    auto lock = Enter("RegOpenKeyExA", Hex((uintptr_t)key) + "," + Text(subKey) + "," + Hex(access));
    (void)options;
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
    const std::string value = codePage ? std::to_string(S().script.ansiCodePage) : S().script.systemPath;
    if (key != EnvironmentHandle() && !codePage)
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
    return key == EnvironmentHandle() || key == CodePageHandle() ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
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
