// The package's service through the service manager's ANSI API (see
// service_settings.h). Fixed buffers only; every text is bounded.
#include "service_settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The description of a service the package creates; one that exists keeps
// its own.
static const char PackageDescription[] = "HOLV service host: runs the worker program its INI file names";

// One query's answer. A union, so the records in it are aligned.
static union {
    QUERY_SERVICE_CONFIGA config;
    SERVICE_DESCRIPTIONA description;
    SERVICE_FAILURE_ACTIONSA failureActions;
    SERVICE_REQUIRED_PRIVILEGES_INFOA privileges;
    BYTE bytes[ServiceQuerySize];
} Answer;

static bool CopyText(char* out, size_t size, const char* text)
{
    if (!text)
        text = "";
    size_t length = strlen(text);
    if (length >= size)
        return false;
    memcpy(out, text, length + 1);
    return true;
}

// The bytes of a list: its names with their zeros, without the list's own
// end (0 for an empty or missing list).
static size_t ListLength(const char* list)
{
    size_t length = 0;
    if (list)
        while (list[length])
            length += strlen(list + length) + 1;
    return length;
}

static bool CopyList(char* out, size_t size, const char* list)
{
    size_t length = ListLength(list);
    if (length + 1 > size)
        return false;
    if (length)
        memcpy(out, list, length);
    out[length] = 0;
    return true;
}

// Records the first failure: a call's error, or a text too long for its
// field.
static void Note(DWORD* first, bool ok, DWORD error = ERROR_INSUFFICIENT_BUFFER)
{
    if (!ok && !*first)
        *first = error ? error : ERROR_INSUFFICIENT_BUFFER;
}

// One QueryServiceConfig2A level into Answer; false when the service manager
// does not know it, and `first` noted when the query failed otherwise.
static bool QueryLevel(SC_HANDLE service, DWORD level, ServiceSettings* out, DWORD* first)
{
    DWORD needed = 0;
    memset(&Answer, 0, sizeof Answer);
    if (QueryServiceConfig2A(service, level, Answer.bytes, sizeof Answer, &needed)) {
        out->known |= 1u << level;
        return true;
    }
    if (GetLastError() != ERROR_INVALID_LEVEL)
        Note(first, false, GetLastError());
    return false;
}

DWORD ReadServiceSettings(SC_HANDLE service, ServiceSettings* out)
{
    memset(out, 0, sizeof *out);
    DWORD first = 0;
    DWORD needed = 0;
    memset(&Answer, 0, sizeof Answer);
    if (!QueryServiceConfigA(service, &Answer.config, sizeof Answer, &needed)) {
        Note(&first, false, GetLastError());
    } else {
        const QUERY_SERVICE_CONFIGA& c = Answer.config;
        out->type = c.dwServiceType;
        out->startType = c.dwStartType;
        out->errorControl = c.dwErrorControl;
        out->tagId = c.dwTagId;
        Note(&first, CopyText(out->binaryPath, sizeof out->binaryPath, c.lpBinaryPathName) &&
                         CopyText(out->loadOrderGroup, sizeof out->loadOrderGroup, c.lpLoadOrderGroup) &&
                         CopyList(out->dependencies, sizeof out->dependencies, c.lpDependencies) &&
                         CopyText(out->startName, sizeof out->startName, c.lpServiceStartName) &&
                         CopyText(out->displayName, sizeof out->displayName, c.lpDisplayName));
    }

    if (QueryLevel(service, SERVICE_CONFIG_DESCRIPTION, out, &first))
        Note(&first, CopyText(out->description, sizeof out->description, Answer.description.lpDescription));

    if (QueryLevel(service, SERVICE_CONFIG_FAILURE_ACTIONS, out, &first)) {
        const SERVICE_FAILURE_ACTIONSA& f = Answer.failureActions;
        out->resetPeriod = f.dwResetPeriod;
        bool fits = f.cActions <= MaxFailureActions && (f.cActions == 0 || f.lpsaActions);
        if (fits) {
            out->actionCount = f.cActions;
            for (DWORD i = 0; i < f.cActions; i++)
                out->actions[i] = f.lpsaActions[i];
        }
        Note(&first, fits && CopyText(out->rebootMessage, sizeof out->rebootMessage, f.lpRebootMsg) &&
                         CopyText(out->command, sizeof out->command, f.lpCommand));
    }

    if (QueryLevel(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, out, &first))
        Note(&first, CopyList(out->requiredPrivileges, sizeof out->requiredPrivileges,
                              Answer.privileges.pmszRequiredPrivileges));

    // The levels that answer a single number.
    struct {
        DWORD level;
        DWORD* value;
    } numbers[] = {
        {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, (DWORD*)&out->failureFlag},
        {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, (DWORD*)&out->delayedAutoStart},
        {SERVICE_CONFIG_PRESHUTDOWN_INFO, &out->preshutdownTimeout},
        {SERVICE_CONFIG_SERVICE_SID_INFO, &out->sidType},
    };
    for (auto& n : numbers)
        if (QueryLevel(service, n.level, out, &first))
            memcpy(n.value, Answer.bytes, sizeof(DWORD));
    return first;
}

// ---- the settings as text ---------------------------------------------------

namespace {
// Appends to a bounded buffer; `ok` turns false at the first overflow.
struct Writer {
    char* at;
    char* end;
    bool ok;

    void Text(const char* text)
    {
        size_t n = strlen(text);
        if (!ok || (size_t)(end - at) <= n) {
            ok = false;
            return;
        }
        memcpy(at, text, n + 1);
        at += n;
    }
    void Number(DWORD value)
    {
        char digits[16];
        snprintf(digits, sizeof digits, "%lu", (unsigned long)value);
        Text(digits);
    }
    // Bytes as hex, so no text can hold a separator.
    void Hex(const char* bytes, size_t n)
    {
        static const char digits[] = "0123456789abcdef";
        for (size_t i = 0; i < n && ok; i++) {
            char pair[3] = {digits[(BYTE)bytes[i] >> 4], digits[(BYTE)bytes[i] & 15], 0};
            Text(pair);
        }
    }
    void Field() { Text("|"); }
};
}  // namespace

bool FormatServiceSettings(const char* name, const ServiceSettings* s, char* out, size_t size)
{
    Writer w = {out, out + size, size > 0};
    if (size)
        out[0] = 0;
    w.Text(name);
    w.Text(s ? "|1|" : "|0");
    if (!s)
        return w.ok;
    const DWORD numbers[] = {s->known, s->type, s->startType, s->errorControl, s->tagId};
    for (DWORD n : numbers) {
        w.Number(n);
        w.Field();
    }
    w.Hex(s->binaryPath, strlen(s->binaryPath));
    w.Field();
    w.Hex(s->loadOrderGroup, strlen(s->loadOrderGroup));
    w.Field();
    w.Hex(s->dependencies, ListLength(s->dependencies));
    w.Field();
    w.Hex(s->startName, strlen(s->startName));
    w.Field();
    w.Hex(s->displayName, strlen(s->displayName));
    w.Field();
    w.Hex(s->description, strlen(s->description));
    w.Field();
    w.Number(s->resetPeriod);
    w.Field();
    for (DWORD i = 0; i < s->actionCount; i++) {
        if (i)
            w.Text(",");
        w.Number((DWORD)s->actions[i].Type);
        w.Text(":");
        w.Number(s->actions[i].Delay);
    }
    w.Field();
    w.Hex(s->rebootMessage, strlen(s->rebootMessage));
    w.Field();
    w.Hex(s->command, strlen(s->command));
    w.Field();
    const DWORD flags[] = {(DWORD)s->failureFlag, (DWORD)s->delayedAutoStart, s->preshutdownTimeout};
    for (DWORD n : flags) {
        w.Number(n);
        w.Field();
    }
    w.Hex(s->requiredPrivileges, ListLength(s->requiredPrivileges));
    w.Field();
    w.Number(s->sidType);
    return w.ok;
}

namespace {
// Takes "|"-separated fields off a text.
struct Reader {
    const char* at;  // null past the last field
    bool ok;

    // The next field's extent.
    size_t Next(const char** start)
    {
        *start = at;
        if (!ok || !at) {
            ok = false;
            return 0;
        }
        const char* bar = strchr(at, '|');
        size_t n = bar ? (size_t)(bar - at) : strlen(at);
        at = bar ? bar + 1 : NULL;
        return n;
    }
    // The next field, or with `rest` everything left.
    void Text(char* out, size_t size, bool rest = false)
    {
        const char* start = at;
        size_t n = 0;
        if (rest && ok && at) {
            n = strlen(at);
            at = NULL;
        } else {
            n = Next(&start);
        }
        if (!ok || n >= size) {
            ok = false;
            return;
        }
        memcpy(out, start, n);
        out[n] = 0;
    }
    void Number(DWORD* value)
    {
        const char* start;
        size_t n = Next(&start);
        char* end = NULL;
        unsigned long v = n ? strtoul(start, &end, 10) : 0;
        if (!ok || n == 0 || n > 10 || end != start + n)
            ok = false;
        else
            *value = (DWORD)v;
    }
    // Hex into `out`, ended by a zero; a list gets its own end too.
    void Hex(char* out, size_t size, bool list = false)
    {
        const char* start;
        size_t n = Next(&start);
        size_t bytes = n / 2;
        if (!ok || n % 2 || bytes + (list ? 2 : 1) > size) {
            ok = false;
            return;
        }
        for (size_t i = 0; i < bytes; i++) {
            char pair[3] = {start[2 * i], start[2 * i + 1], 0};
            char* end = NULL;
            out[i] = (char)strtoul(pair, &end, 16);
            if (end != pair + 2)
                ok = false;
        }
        out[bytes] = 0;
        if (list)
            out[bytes + 1] = 0;
    }
};
}  // namespace

// "ACTION:DELAY,...", `length` characters of it.
static bool ParseActions(const char* text, size_t length, ServiceSettings* out)
{
    const char* end = text + length;
    out->actionCount = 0;
    while (text < end) {
        char* stop = NULL;
        unsigned long type = strtoul(text, &stop, 10);
        if (stop == text || *stop != ':' || type > SC_ACTION_RUN_COMMAND || out->actionCount >= MaxFailureActions)
            return false;
        text = stop + 1;
        unsigned long delay = strtoul(text, &stop, 10);
        if (stop == text || stop > end || (stop < end && *stop != ','))
            return false;
        out->actions[out->actionCount++] = {(SC_ACTION_TYPE)type, (DWORD)delay};
        text = stop < end ? stop + 1 : stop;
    }
    return true;
}

bool ParseServiceSettings(const char* text, char (&name)[ServiceNameSize], bool* installed, ServiceSettings* out)
{
    Reader r = {text, true};
    char flag[4];
    r.Text(name, sizeof name);
    r.Text(flag, sizeof flag);
    if (!r.ok || !name[0] || (strcmp(flag, "0") != 0 && strcmp(flag, "1") != 0))
        return false;
    *installed = flag[0] == '1';
    if (!*installed)
        return r.at == NULL;
    memset(out, 0, sizeof *out);
    DWORD* numbers[] = {&out->known, &out->type, &out->startType, &out->errorControl, &out->tagId};
    for (DWORD* n : numbers)
        r.Number(n);
    r.Hex(out->binaryPath, sizeof out->binaryPath);
    r.Hex(out->loadOrderGroup, sizeof out->loadOrderGroup);
    r.Hex(out->dependencies, sizeof out->dependencies, true);
    r.Hex(out->startName, sizeof out->startName);
    r.Hex(out->displayName, sizeof out->displayName);
    r.Hex(out->description, sizeof out->description);
    r.Number(&out->resetPeriod);
    const char* actions;
    size_t length = r.Next(&actions);
    if (!r.ok || !ParseActions(actions, length, out))
        return false;
    r.Hex(out->rebootMessage, sizeof out->rebootMessage);
    r.Hex(out->command, sizeof out->command);
    DWORD failureFlag = 0, delayed = 0;
    r.Number(&failureFlag);
    r.Number(&delayed);
    r.Number(&out->preshutdownTimeout);
    r.Hex(out->requiredPrivileges, sizeof out->requiredPrivileges, true);
    r.Number(&out->sidType);
    out->failureFlag = failureFlag != 0;
    out->delayedAutoStart = delayed != 0;
    return r.ok && r.at == NULL;
}

// Evidence: MS docs "LocalSystem Account" ("The name of the account in all
// locales is .\LocalSystem. The name, LocalSystem or ComputerName\LocalSystem
// can also be used").
bool IsLocalSystem(const char* account)
{
    char computer[64], domain[64];
    DWORD size = sizeof computer;
    const char* slash = strchr(account, '\\');
    bool here = slash && (size_t)(slash - account) < sizeof domain && GetComputerNameA(computer, &size);
    if (here)
        snprintf(domain, sizeof domain, "%.*s", (int)(slash - account), account);
    return lstrcmpiA(account, "LocalSystem") == 0 || lstrcmpiA(account, ".\\LocalSystem") == 0 ||
           (here && lstrcmpiA(domain, computer) == 0 && lstrcmpiA(slash + 1, "LocalSystem") == 0);
}

bool AccountHasPassword(const char* account)
{
    static const char* const without[] = {"NT AUTHORITY\\LocalService", "NT AUTHORITY\\NetworkService",
                                          "NT AUTHORITY\\SYSTEM"};
    if (IsLocalSystem(account))
        return false;
    static const char virtualAccounts[] = "NT SERVICE\\";
    size_t n = strlen(account);
    char domain[sizeof virtualAccounts];
    snprintf(domain, sizeof domain, "%s", account);
    if (n == 0 || account[n - 1] == '$' || lstrcmpiA(domain, virtualAccounts) == 0)
        return false;
    for (const char* name : without)
        if (lstrcmpiA(account, name) == 0)
            return false;
    return true;
}

// ---- the package's request ----------------------------------------------------

// A whole decimal number of at most `digits` digits.
static bool ParseNumber(const char* text, size_t digits, DWORD* value)
{
    size_t n = strlen(text);
    if (n == 0 || n > digits || strspn(text, "0123456789") != n)
        return false;
    *value = (DWORD)strtoul(text, NULL, 10);
    return true;
}

bool ParseRestartDelay(const char* text, DWORD* ms)
{
    DWORD value;
    if (!ParseNumber(text, 8, &value) || value > LongestRestartDelay)
        return false;
    *ms = value;
    return true;
}

bool ParsePackageService(const char* data, PackageService* out, const char** settings)
{
    char interactive[4], startType[16], delay[16], folder[MAX_PATH + 2];
    Reader r = {data, true};
    memset(out, 0, sizeof *out);
    r.Text(out->name, sizeof out->name);
    r.Text(interactive, sizeof interactive);
    r.Text(startType, sizeof startType);
    r.Text(delay, sizeof delay);
    r.Text(folder, sizeof folder);
    if (!r.ok || !out->name[0] || !r.at)
        return false;
    *settings = r.at;

    if (strcmp(interactive, "0") == 0)
        out->type = SERVICE_WIN32_OWN_PROCESS;
    else if (strcmp(interactive, "1") == 0)
        out->type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    else
        return false;

    static const struct {
        const char* text;
        DWORD value;
    } startTypes[] = {{"auto", SERVICE_AUTO_START}, {"demand", SERVICE_DEMAND_START}, {"disabled", SERVICE_DISABLED}};
    out->startType = 0;
    for (const auto& s : startTypes)
        if (strcmp(startType, s.text) == 0)
            out->startType = s.value;
    if (!out->startType)
        return false;

    out->setRecovery = delay[0] != 0;
    if (out->setRecovery && !ParseRestartDelay(delay, &out->restartDelay))
        return false;

    size_t n = strlen(folder);
    while (n > 0 && folder[n - 1] == '\\')
        folder[--n] = 0;
    if (n == 0)
        return false;
    int written = snprintf(out->binaryPath, sizeof out->binaryPath, "\"%s\\HOLVSVC.EXE\"", folder);
    return written > 0 && (size_t)written < sizeof out->binaryPath;
}

// ---- the service manager's side -----------------------------------------------

static ServiceOutcome Failed(ServiceOutcome outcome, const char* step)
{
    outcome.failedStep = step;
    outcome.error = GetLastError();
    return outcome;
}

// What a service needs opened for to be changed, restart actions included.
static const DWORD ChangeAccess = SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_START;

// Whether the service manager reports a level (a query into a small buffer
// fails for a lack of room, not for an unknown level).
static bool Knows(SC_HANDLE service, DWORD level)
{
    DWORD needed = 0;
    BYTE probe[sizeof(SERVICE_FAILURE_ACTIONSA)];
    return QueryServiceConfig2A(service, level, probe, sizeof probe, &needed) ||
           GetLastError() != ERROR_INVALID_LEVEL;
}

// Three restarts after the delay, the count reset after a day; the flag
// makes a stop with an error (the host's 1066) count as a failure. A service
// manager that does not report a setting (Wine's) does not keep it either:
// it is left, and named in the outcome.
static ServiceOutcome SetRecovery(SC_HANDLE service, DWORD delay, ServiceOutcome outcome)
{
    SC_ACTION actions[RecoveryRestarts];
    for (SC_ACTION& a : actions)
        a = {SC_ACTION_RESTART, delay};
    SERVICE_FAILURE_ACTIONSA failure = {RecoveryResetSeconds, NULL, NULL, RecoveryRestarts, actions};
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    bool knowsActions = Knows(service, SERVICE_CONFIG_FAILURE_ACTIONS);
    bool knowsFlag = Knows(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG);
    if (knowsActions && !ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
        return Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS)");
    if (knowsFlag && !ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag))
        return Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)");
    if (!knowsActions)
        outcome.unsupported = knowsFlag ? "the recovery actions" : "the recovery actions and the failure-actions flag";
    else if (!knowsFlag)
        outcome.unsupported = "the failure-actions flag";
    return outcome;
}

// A service the installation found and an older version's removal deleted:
// created again with everything it had but its password, and the package's
// type, start type and binary path.
static SC_HANDLE CreateAgain(SC_HANDLE manager, const PackageService& p, const ServiceSettings& b,
                             ServiceOutcome* outcome)
{
    SC_HANDLE service = CreateServiceA(manager, p.name, b.displayName[0] ? b.displayName : p.name, ChangeAccess,
                                       p.type, p.startType, b.errorControl, p.binaryPath,
                                       b.loadOrderGroup[0] ? b.loadOrderGroup : NULL, NULL,
                                       b.dependencies[0] ? b.dependencies : NULL,
                                       b.startName[0] ? b.startName : NULL, "");
    if (!service) {
        *outcome = Failed(*outcome, "CreateServiceA");
        return NULL;
    }
    outcome->created = outcome->recreated = true;
    outcome->passwordNeeded = b.startName[0] && AccountHasPassword(b.startName);
    SERVICE_DESCRIPTIONA description = {(LPSTR)b.description};
    SERVICE_FAILURE_ACTIONSA failure = {b.resetPeriod, (LPSTR)b.rebootMessage, (LPSTR)b.command, b.actionCount,
                                        (SC_ACTION*)b.actions};
    SERVICE_FAILURE_ACTIONS_FLAG flag = {b.failureFlag};
    SERVICE_DELAYED_AUTO_START_INFO delayed = {b.delayedAutoStart};
    SERVICE_PRESHUTDOWN_INFO preshutdown = {b.preshutdownTimeout};
    SERVICE_REQUIRED_PRIVILEGES_INFOA privileges = {(LPSTR)b.requiredPrivileges};
    SERVICE_SID_INFO sid = {b.sidType};
    const struct {
        DWORD level;
        void* info;
        const char* step;
    } levels[] = {
        {SERVICE_CONFIG_DESCRIPTION, &description, "ChangeServiceConfig2A(SERVICE_CONFIG_DESCRIPTION)"},
        {SERVICE_CONFIG_FAILURE_ACTIONS, &failure, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS)"},
        {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)"},
        {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed,
         "ChangeServiceConfig2A(SERVICE_CONFIG_DELAYED_AUTO_START_INFO)"},
        {SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, "ChangeServiceConfig2A(SERVICE_CONFIG_PRESHUTDOWN_INFO)"},
        {SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges,
         "ChangeServiceConfig2A(SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO)"},
        {SERVICE_CONFIG_SERVICE_SID_INFO, &sid, "ChangeServiceConfig2A(SERVICE_CONFIG_SERVICE_SID_INFO)"},
    };
    for (const auto& l : levels)
        if ((b.known & (1u << l.level)) && !ChangeServiceConfig2A(service, l.level, l.info) && !outcome->failedStep)
            *outcome = Failed(*outcome, l.step);
    return service;
}

ServiceOutcome ApplyPackageService(const PackageService& p, const ServiceSettings* before)
{
    ServiceOutcome outcome = {};
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return Failed(outcome, "OpenSCManagerA");
    SC_HANDLE service = OpenServiceA(manager, p.name, ChangeAccess);
    if (service) {
        // NULL and SERVICE_NO_CHANGE: the account, its password, group,
        // dependencies, display name and error control stay.
        if (!ChangeServiceConfigA(service, p.type, p.startType, SERVICE_NO_CHANGE, p.binaryPath, NULL, NULL, NULL,
                                  NULL, NULL, NULL))
            outcome = Failed(outcome, "ChangeServiceConfigA");
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        outcome = Failed(outcome, "OpenServiceA");
    } else if (before) {
        service = CreateAgain(manager, p, *before, &outcome);
    } else {
        // A new service runs as LocalSystem (no account), the one account an
        // interactive service may have.
        service = CreateServiceA(manager, p.name, p.name, ChangeAccess, p.type, p.startType, SERVICE_ERROR_NORMAL,
                                 p.binaryPath, NULL, NULL, NULL, NULL, NULL);
        if (!service) {
            outcome = Failed(outcome, "CreateServiceA");
        } else {
            outcome.created = true;
            SERVICE_DESCRIPTIONA description = {(LPSTR)PackageDescription};
            if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description))
                outcome = Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_DESCRIPTION)");
        }
    }
    if (!outcome.failedStep && p.setRecovery)
        outcome = SetRecovery(service, p.restartDelay, outcome);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return outcome;
}

bool ParseRemoval(const char* data, char (&name)[ServiceNameSize], bool* keep)
{
    char code[64];
    Reader r = {data, true};
    r.Text(name, sizeof name);
    r.Text(code, sizeof code, true);
    if (!r.ok || !name[0])
        return false;
    *keep = code[0] != 0;
    return true;
}

ServiceOutcome DeletePackageService(const char* name)
{
    ServiceOutcome outcome = {};
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return Failed(outcome, "OpenSCManagerA");
    SC_HANDLE service = OpenServiceA(manager, name, DELETE);
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            outcome = Failed(outcome, "OpenServiceA");
    } else {
        // Marked already: it goes when the last handle to it closes.
        if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            outcome = Failed(outcome, "DeleteService");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return outcome;
}

ServiceOutcome RestoreServiceSettings(const char* text)
{
    ServiceOutcome outcome = {};
    static ServiceSettings before;
    char name[ServiceNameSize];
    bool installed = false;
    if (!ParseServiceSettings(text, name, &installed, &before)) {
        SetLastError(ERROR_INVALID_DATA);
        return Failed(outcome, "reading the service's settings");
    }
    // Created by the installation: it goes again.
    if (!installed)
        return DeletePackageService(name);

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return Failed(outcome, "OpenSCManagerA");
    SC_HANDLE service = OpenServiceA(manager, name, ChangeAccess);
    if (!service) {
        outcome = Failed(outcome, "OpenServiceA");
    } else {
        // Each is put back even when one before it failed; the first failure
        // is reported. The actions array is passed even when empty: null
        // would leave the package's actions in place.
        SERVICE_FAILURE_ACTIONSA failure = {before.resetPeriod, NULL, NULL, before.actionCount, before.actions};
        SERVICE_FAILURE_ACTIONS_FLAG flag = {before.failureFlag};
        if (!ChangeServiceConfigA(service, before.type, before.startType, SERVICE_NO_CHANGE, before.binaryPath, NULL,
                                  NULL, NULL, NULL, NULL, NULL))
            outcome = Failed(outcome, "ChangeServiceConfigA");
        if ((before.known & (1u << SERVICE_CONFIG_FAILURE_ACTIONS)) &&
            !ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) && !outcome.failedStep)
            outcome = Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS)");
        if ((before.known & (1u << SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)) &&
            !ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) && !outcome.failedStep)
            outcome = Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return outcome;
}
