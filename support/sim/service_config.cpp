// Simulated platform: what the service manager stores for each service, as
// installers create, change, query and delete it. Windows' documented rules:
// SERVICE_NO_CHANGE and null leave a setting as it is, an interactive
// service runs only as LocalSystem, a name is taken case-insensitively.
#include "sim_state.h"

using namespace simstate;

static std::string Lower(std::string text)
{
    for (char& c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

// The stored record of an installed service; the running service is
// installed by definition, with the scripted type, and gets a record at its
// first change. Null when there is none.
static sim::InstalledService* Stored(State& s, const std::string& name, bool create = false)
{
    for (auto& entry : s.script.installed)
        if (strcasecmp(entry.first.c_str(), name.c_str()) == 0)
            return &entry.second;
    if (strcasecmp(name.c_str(), s.script.serviceName.c_str()) != 0)
        return nullptr;
    static sim::InstalledService running;
    running = {};
    running.type = s.script.installedType;
    if (!create)
        return &running;
    return &(s.script.installed[s.script.serviceName] = running);
}

// The service a handle names, or the error a call on it fails with.
static sim::InstalledService* ServiceOf(State& s, SC_HANDLE handle, bool forChange = false)
{
    Handle* h = Find(s, (HANDLE)handle);
    if (!h || h->kind != Kind::Service) {
        LastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    sim::InstalledService* service = forChange && s.deletedServices.count(Lower(h->name)) ? nullptr
                                                                                           : Stored(s, h->name, forChange);
    if (!service)
        LastError = ERROR_SERVICE_MARKED_FOR_DELETE;
    return service;
}

static std::vector<std::string> List(const char* list)
{
    std::vector<std::string> names;
    for (const char* p = list; p && *p; p += strlen(p) + 1)
        names.push_back(p);
    return names;
}

static std::string ListText(const char* list)
{
    std::string text;
    for (const std::string& name : List(list))
        text += name + ";";
    return list ? text : "null";
}

static bool ValidType(DWORD type)
{
    DWORD process = type & ~(DWORD)SERVICE_INTERACTIVE_PROCESS;
    return process == SERVICE_WIN32_OWN_PROCESS || process == SERVICE_WIN32_SHARE_PROCESS;
}

// Evidence: MS docs "LocalSystem Account" ("The name of the account in all
// locales is .\LocalSystem. The name, LocalSystem or ComputerName\LocalSystem
// can also be used").
static bool LocalSystem(const std::string& account)
{
    std::string computer = S().script.computerName + "\\LocalSystem";
    return strcasecmp(account.c_str(), "LocalSystem") == 0 || strcasecmp(account.c_str(), ".\\LocalSystem") == 0 ||
           strcasecmp(account.c_str(), computer.c_str()) == 0;
}

// Settings shared by creation and change; each null or SERVICE_NO_CHANGE one
// stays. Refuses what Windows refuses, before anything is changed.
static BOOL Configure(sim::InstalledService& service, DWORD type, DWORD startType, DWORD errorControl,
                      LPCSTR binaryPath, LPCSTR group, LPDWORD tagId, LPCSTR dependencies, LPCSTR startName,
                      LPCSTR password, LPCSTR displayName)
{
    DWORD newType = type == SERVICE_NO_CHANGE ? service.type : type;
    std::string account = startName ? startName : service.startName;
    if (!ValidType(newType) || (startType != SERVICE_NO_CHANGE && startType > SERVICE_DISABLED) ||
        (errorControl != SERVICE_NO_CHANGE && errorControl > 3) ||
        ((newType & SERVICE_INTERACTIVE_PROCESS) && !LocalSystem(account)) || (binaryPath && !*binaryPath))
        return Fail(ERROR_INVALID_PARAMETER);
    service.type = newType;
    if (startType != SERVICE_NO_CHANGE)
        service.startType = startType;
    if (errorControl != SERVICE_NO_CHANGE)
        service.errorControl = errorControl;
    if (binaryPath)
        service.binaryPath = binaryPath;
    if (group)
        service.loadOrderGroup = group;
    if (tagId)
        *tagId = service.tagId;
    if (dependencies)
        service.dependencies = List(dependencies);
    if (startName)
        service.startName = startName;
    if (password)
        service.password = password;
    if (displayName)
        service.displayName = displayName;
    return TRUE;
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR displayName, DWORD access, DWORD type,
                                DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR loadOrderGroup,
                                LPDWORD tagId, LPCSTR dependencies, LPCSTR startName, LPCSTR password)
{
    auto lock = Enter("CreateServiceA", Text(name) + "," + Hex(access) + "," + Hex(type) + "," +
                                            std::to_string(startType) + "," + Text(binaryPath) + "," +
                                            Text(startName));
    State& s = S();
    Handle* m = Find(s, (HANDLE)manager);
    if (!m || m->kind != Kind::Manager)
        return (Fail(ERROR_INVALID_HANDLE), nullptr);
    // Evidence: Wine dlls/advapi32/tests/service.c test_create_delete_svc (an
    // empty name: ERROR_INVALID_NAME); MS docs CreateService ("Forward-slash
    // (/) and backslash (\) are not valid service name characters"), the same
    // error taken for them.
    if (!name)
        return (Fail(ERROR_INVALID_ADDRESS), nullptr);
    if (!*name || strlen(name) > 256 || strpbrk(name, "/\\"))
        return (Fail(ERROR_INVALID_NAME), nullptr);
    if (s.deletedServices.count(Lower(name)))
        return (Fail(ERROR_SERVICE_MARKED_FOR_DELETE), nullptr);
    if (Stored(s, name))
        return (Fail(ERROR_SERVICE_EXISTS), nullptr);
    // Every argument is required; a null account is LocalSystem.
    if (type == SERVICE_NO_CHANGE || startType == SERVICE_NO_CHANGE || errorControl == SERVICE_NO_CHANGE ||
        !binaryPath)
        return (Fail(ERROR_INVALID_PARAMETER), nullptr);
    sim::InstalledService created;
    created.displayName = displayName ? displayName : name;
    if (!Configure(created, type, startType, errorControl, binaryPath, loadOrderGroup, tagId, dependencies,
                   startName ? startName : "LocalSystem", password, nullptr))
        return nullptr;
    s.script.installed[name] = created;
    s.openServiceHandles++;
    return (SC_HANDLE)NewHandle(s, {Kind::Service, name});
}

BOOL WINAPI DeleteService(SC_HANDLE service)
{
    auto lock = Enter("DeleteService", "");
    State& s = S();
    if (!ServiceOf(s, service))
        return FALSE;
    const std::string& name = Find(s, (HANDLE)service)->name;
    // A running service is only marked: it goes once it has stopped and every
    // handle to it is closed; until then it cannot be deleted or created again.
    // Evidence: MS docs DeleteService ("marks a service for deletion ... not
    // removed until all open handles to the service have been closed ... and
    // the service is not running"; ERROR_SERVICE_MARKED_FOR_DELETE).
    if (strcasecmp(name.c_str(), s.script.serviceName.c_str()) == 0) {
        if (!s.deletedServices.insert(Lower(name)).second)
            return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
        return TRUE;
    }
    for (auto it = s.script.installed.begin(); it != s.script.installed.end(); ++it)
        if (strcasecmp(it->first.c_str(), name.c_str()) == 0) {
            s.script.installed.erase(it);
            return TRUE;
        }
    return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
}

BOOL WINAPI ChangeServiceConfigA(SC_HANDLE service, DWORD type, DWORD startType, DWORD errorControl,
                                 LPCSTR binaryPath, LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                 LPCSTR startName, LPCSTR password, LPCSTR displayName)
{
    auto lock = Enter("ChangeServiceConfigA", Hex(type) + "," + Hex(startType) + "," + Hex(errorControl) + "," +
                                                  Text(binaryPath) + "," + Text(loadOrderGroup) + "," +
                                                  ListText(dependencies) + "," + Text(startName) + "," +
                                                  (password ? "password" : "null") + "," + Text(displayName));
    State& s = S();
    sim::InstalledService* stored = ServiceOf(s, service, true);
    if (!stored)
        return FALSE;
    sim::InstalledService changed = *stored;
    if (!Configure(changed, type, startType, errorControl, binaryPath, loadOrderGroup, tagId, dependencies,
                   startName, password, displayName))
        return FALSE;
    *stored = changed;
    return TRUE;
}

BOOL WINAPI ChangeServiceConfig2A(SC_HANDLE service, DWORD level, LPVOID info)
{
    auto lock = Enter("ChangeServiceConfig2A", std::to_string(level));
    State& s = S();
    sim::InstalledService* stored = ServiceOf(s, service, true);
    if (!stored)
        return FALSE;
    if (!info)
        return Fail(ERROR_INVALID_PARAMETER);
    sim::InstalledService& to = *stored;
    switch (level) {
    case SERVICE_CONFIG_DESCRIPTION: {
        const char* text = ((SERVICE_DESCRIPTIONA*)info)->lpDescription;
        if (text)
            to.description = text;
        return TRUE;
    }
    case SERVICE_CONFIG_FAILURE_ACTIONS: {
        const SERVICE_FAILURE_ACTIONSA& f = *(SERVICE_FAILURE_ACTIONSA*)info;
        // Null actions leave the actions and their reset period; an empty
        // array removes them.
        if (f.lpsaActions) {
            to.resetPeriod = f.dwResetPeriod;
            to.actions.clear();
            for (DWORD i = 0; i < f.cActions; i++)
                to.actions.push_back({f.lpsaActions[i].Type, f.lpsaActions[i].Delay});
        }
        if (f.lpRebootMsg)
            to.rebootMessage = f.lpRebootMsg;
        if (f.lpCommand)
            to.command = f.lpCommand;
        return TRUE;
    }
    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
        to.failureFlag = ((SERVICE_FAILURE_ACTIONS_FLAG*)info)->fFailureActionsOnNonCrashFailures != FALSE;
        return TRUE;
    case SERVICE_CONFIG_DELAYED_AUTO_START_INFO:
        to.delayedAutoStart = ((SERVICE_DELAYED_AUTO_START_INFO*)info)->fDelayedAutostart != FALSE;
        return TRUE;
    case SERVICE_CONFIG_PRESHUTDOWN_INFO:
        to.preshutdownTimeout = ((SERVICE_PRESHUTDOWN_INFO*)info)->dwPreshutdownTimeout;
        return TRUE;
    case SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO:
        to.requiredPrivileges = List(((SERVICE_REQUIRED_PRIVILEGES_INFOA*)info)->pmszRequiredPrivileges);
        return TRUE;
    case SERVICE_CONFIG_SERVICE_SID_INFO: {
        DWORD type = ((SERVICE_SID_INFO*)info)->dwServiceSidType;
        if (type != SERVICE_SID_TYPE_NONE && type != SERVICE_SID_TYPE_UNRESTRICTED &&
            type != SERVICE_SID_TYPE_RESTRICTED)
            return Fail(ERROR_INVALID_PARAMETER);
        to.sidType = type;
        return TRUE;
    }
    }
    return Fail(ERROR_INVALID_LEVEL);
}

// The queries fill a caller's buffer: the record first, its texts after it.
// Texts are laid out by this writer; `needed` counts them all.
namespace {
struct Layout {
    char* next;
    char* end;
    DWORD needed;

    // A text (or, with `list`, the names each ended by a zero and an empty
    // one after them); null where the buffer is too small.
    char* Put(const std::string& text)
    {
        return Put(text.c_str(), text.size() + 1);
    }
    char* PutList(const std::vector<std::string>& names)
    {
        std::string bytes;
        for (const std::string& name : names)
            bytes += name + '\0';
        bytes += '\0';
        return Put(bytes.data(), bytes.size());
    }
    char* Put(const char* bytes, size_t size)
    {
        needed += (DWORD)size;
        if (!next || next + size > end)
            return next = nullptr;
        char* at = next;
        memcpy(at, bytes, size);
        next += size;
        return at;
    }
};
}  // namespace

static Layout LayoutAfter(LPBYTE buffer, DWORD size, DWORD record)
{
    if (!buffer || size < record)
        return {nullptr, nullptr, record};
    return {(char*)buffer + record, (char*)buffer + size, record};
}

static BOOL Finish(const Layout& layout, LPDWORD needed)
{
    *needed = layout.needed;
    return layout.next ? TRUE : Fail(ERROR_INSUFFICIENT_BUFFER);
}

BOOL WINAPI QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed)
{
    auto lock = Enter("QueryServiceConfigA", std::to_string(size));
    State& s = S();
    sim::InstalledService* stored = ServiceOf(s, service);
    if (!stored)
        return FALSE;
    const sim::InstalledService& from = *stored;
    Layout layout = LayoutAfter((LPBYTE)config, size, sizeof *config);
    QUERY_SERVICE_CONFIGA record = {};
    record.dwServiceType = from.type;
    record.dwStartType = from.startType;
    record.dwErrorControl = from.errorControl;
    record.dwTagId = from.tagId;
    record.lpBinaryPathName = layout.Put(from.binaryPath);
    record.lpLoadOrderGroup = layout.Put(from.loadOrderGroup);
    record.lpDependencies = layout.PutList(from.dependencies);
    record.lpServiceStartName = layout.Put(from.startName);
    record.lpDisplayName = layout.Put(from.displayName.empty() ? Find(s, (HANDLE)service)->name : from.displayName);
    if (!Finish(layout, needed))
        return FALSE;
    *config = record;
    return TRUE;
}

BOOL WINAPI QueryServiceConfig2A(SC_HANDLE service, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    auto lock = Enter("QueryServiceConfig2A", std::to_string(level) + "," + std::to_string(size));
    State& s = S();
    sim::InstalledService* stored = ServiceOf(s, service);
    if (!stored)
        return FALSE;
    const sim::InstalledService& from = *stored;
    if (from.failRecoveryQuery &&
        (level == SERVICE_CONFIG_FAILURE_ACTIONS || level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG))
        return Fail(from.failRecoveryQuery);

    // An empty text comes back as null.
    auto put = [](Layout& layout, const std::string& text) { return text.empty() ? nullptr : layout.Put(text); };
    switch (level) {
    case SERVICE_CONFIG_DESCRIPTION: {
        Layout layout = LayoutAfter(buffer, size, sizeof(SERVICE_DESCRIPTIONA));
        SERVICE_DESCRIPTIONA record = {put(layout, from.description)};
        if (!Finish(layout, needed))
            return FALSE;
        memcpy(buffer, &record, sizeof record);
        return TRUE;
    }
    case SERVICE_CONFIG_FAILURE_ACTIONS: {
        std::vector<SC_ACTION> actions;
        for (const auto& a : from.actions)
            actions.push_back({a.first, a.second});
        Layout layout = LayoutAfter(buffer, size, sizeof(SERVICE_FAILURE_ACTIONSA));
        SERVICE_FAILURE_ACTIONSA record = {};
        record.dwResetPeriod = from.resetPeriod;
        record.cActions = (DWORD)actions.size();
        // The actions right after the record, where they are aligned.
        record.lpsaActions =
            actions.empty() ? nullptr : (SC_ACTION*)layout.Put((const char*)actions.data(), actions.size() * sizeof(SC_ACTION));
        record.lpRebootMsg = put(layout, from.rebootMessage);
        record.lpCommand = put(layout, from.command);
        if (!Finish(layout, needed))
            return FALSE;
        memcpy(buffer, &record, sizeof record);
        return TRUE;
    }
    case SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO: {
        Layout layout = LayoutAfter(buffer, size, sizeof(SERVICE_REQUIRED_PRIVILEGES_INFOA));
        SERVICE_REQUIRED_PRIVILEGES_INFOA record = {
            from.requiredPrivileges.empty() ? nullptr : layout.PutList(from.requiredPrivileges)};
        if (!Finish(layout, needed))
            return FALSE;
        memcpy(buffer, &record, sizeof record);
        return TRUE;
    }
    }

    // The levels that answer one number.
    DWORD value;
    switch (level) {
    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
        value = from.failureFlag;
        break;
    case SERVICE_CONFIG_DELAYED_AUTO_START_INFO:
        value = from.delayedAutoStart;
        break;
    case SERVICE_CONFIG_PRESHUTDOWN_INFO:
        value = from.preshutdownTimeout;
        break;
    case SERVICE_CONFIG_SERVICE_SID_INFO:
        value = from.sidType;
        break;
    default:
        return Fail(ERROR_INVALID_LEVEL);
    }
    *needed = sizeof value;
    if (!buffer || size < sizeof value)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, &value, sizeof value);
    return TRUE;
}
