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

// A list of zero-ended names, ended by an empty one; none when null.
static bool CopyList(char* out, size_t size, const char* list)
{
    size_t length = 0;
    if (list)
        while (list[length] || (length > 0 && list[length - 1]))
            length++;
    // length now counts the names with their zeros; the list's own end follows.
    if (length + 2 > size)
        return false;
    if (length)
        memcpy(out, list, length);
    out[length] = 0;
    out[length + 1] = 0;
    return true;
}

static bool QueryLevel(SC_HANDLE service, DWORD level)
{
    DWORD needed = 0;
    memset(&Answer, 0, sizeof Answer);
    return QueryServiceConfig2A(service, level, Answer.bytes, sizeof Answer, &needed) != FALSE;
}

// Records the first failure: `ok` false with the call's error, or `copied`
// false for a text too long for its field.
static void Note(DWORD* first, bool ok, DWORD error = 0)
{
    if (!ok && !*first)
        *first = error ? error : ERROR_INSUFFICIENT_BUFFER;
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

    if (!QueryLevel(service, SERVICE_CONFIG_DESCRIPTION))
        Note(&first, false, GetLastError());
    else
        Note(&first, CopyText(out->description, sizeof out->description, Answer.description.lpDescription));

    if (!QueryLevel(service, SERVICE_CONFIG_FAILURE_ACTIONS)) {
        Note(&first, false, GetLastError());
    } else {
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

    if (!QueryLevel(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO))
        Note(&first, false, GetLastError());
    else
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
    for (auto& n : numbers) {
        if (!QueryLevel(service, n.level))
            Note(&first, false, GetLastError());
        else
            memcpy(n.value, Answer.bytes, sizeof(DWORD));
    }
    return first;
}

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

// The next field of a "|"-separated text; the last takes the rest.
static bool NextField(const char** cursor, char* out, size_t size, bool last = false)
{
    const char* start = *cursor;
    if (!start)
        return false;
    const char* bar = last ? NULL : strchr(start, '|');
    size_t length = bar ? (size_t)(bar - start) : strlen(start);
    if (length >= size)
        return false;
    memcpy(out, start, length);
    out[length] = 0;
    *cursor = bar ? bar + 1 : NULL;
    return true;
}

bool ParsePackageService(const char* data, PackageService* out)
{
    char interactive[4], startType[16], delay[16], folder[MAX_PATH + 2];
    const char* cursor = data;
    memset(out, 0, sizeof *out);
    if (!NextField(&cursor, out->name, sizeof out->name) || !out->name[0] ||
        !NextField(&cursor, interactive, sizeof interactive) || !NextField(&cursor, startType, sizeof startType) ||
        !NextField(&cursor, delay, sizeof delay) || !NextField(&cursor, folder, sizeof folder, true))
        return false;

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

static ServiceOutcome Failed(ServiceOutcome outcome, const char* step)
{
    outcome.failedStep = step;
    outcome.error = GetLastError();
    return outcome;
}

// What a service needs opened for to be changed, restart actions included.
static const DWORD ChangeAccess = SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_START;

// Three restarts after the delay, the count reset after a day; the flag
// makes a stop with an error (the host's 1066) count as a failure.
static ServiceOutcome SetRecovery(SC_HANDLE service, DWORD delay, ServiceOutcome outcome)
{
    SC_ACTION actions[RecoveryRestarts];
    for (SC_ACTION& a : actions)
        a = {SC_ACTION_RESTART, delay};
    SERVICE_FAILURE_ACTIONSA failure = {RecoveryResetSeconds, NULL, NULL, RecoveryRestarts, actions};
    if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, (LPBYTE)&failure))
        return Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS)");
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, (LPBYTE)&flag)) {
        // A service manager without the flag (Wine's) runs recovery only
        // when the process crashes; the rest of the installation stands.
        if (GetLastError() != ERROR_INVALID_LEVEL)
            return Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)");
        outcome.unsupported = "the failure-actions flag";
    }
    return outcome;
}

ServiceOutcome ApplyPackageService(const PackageService& p)
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
            if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, (LPBYTE)&description))
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
    const char* cursor = data;
    if (!NextField(&cursor, name, sizeof name) || !name[0] || !NextField(&cursor, code, sizeof code, true))
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

bool FormatServiceBefore(const char* name, const ServiceSettings* before, char* out, size_t size)
{
    int n = before ? snprintf(out, size, "%s|1|%lu|%lu|%lu|%d|%lu|", name, (unsigned long)before->type,
                              (unsigned long)before->startType, (unsigned long)before->resetPeriod,
                              before->failureFlag ? 1 : 0, (unsigned long)before->actionCount)
                   : snprintf(out, size, "%s|0", name);
    if (n < 0 || (size_t)n >= size)
        return false;
    if (!before)
        return true;
    size_t used = (size_t)n;
    for (DWORD i = 0; i < before->actionCount; i++) {
        n = snprintf(out + used, size - used, "%s%d:%lu", i ? "," : "", (int)before->actions[i].Type,
                     (unsigned long)before->actions[i].Delay);
        if (n < 0 || (size_t)n >= size - used)
            return false;
        used += (size_t)n;
    }
    n = snprintf(out + used, size - used, "|%s", before->binaryPath);
    return n >= 0 && (size_t)n < size - used;
}

// The "ACTION:DELAY,..." field of FormatServiceBefore.
static bool ParseActions(const char* text, DWORD count, SC_ACTION* actions)
{
    if (count == 0)
        return *text == 0;
    for (DWORD i = 0; i < count; i++) {
        char* end = NULL;
        unsigned long type = strtoul(text, &end, 10);
        if (end == text || *end != ':' || type > SC_ACTION_RUN_COMMAND)
            return false;
        text = end + 1;
        unsigned long delay = strtoul(text, &end, 10);
        if (end == text || *end != (i + 1 < count ? ',' : 0))
            return false;
        actions[i] = {(SC_ACTION_TYPE)type, (DWORD)delay};
        text = end + 1;
    }
    return true;
}

ServiceOutcome RestoreServiceBefore(const char* data)
{
    ServiceOutcome outcome = {};
    char name[ServiceNameSize], existed[4], type[12], start[12], reset[12], flag[4], count[4];
    static char list[MaxFailureActions * 24], path[ServiceQuerySize];
    const char* cursor = data;
    if (!NextField(&cursor, name, sizeof name) || !name[0] || !NextField(&cursor, existed, sizeof existed)) {
        SetLastError(ERROR_INVALID_DATA);
        return Failed(outcome, "reading the rollback's data");
    }
    // Created by the installation: it goes again.
    if (strcmp(existed, "0") == 0 && !cursor)
        return DeletePackageService(name);

    DWORD typeValue, startValue, resetValue, flagValue, countValue;
    SC_ACTION actions[MaxFailureActions];
    if (strcmp(existed, "1") != 0 || !NextField(&cursor, type, sizeof type) || !NextField(&cursor, start, sizeof start) ||
        !NextField(&cursor, reset, sizeof reset) || !NextField(&cursor, flag, sizeof flag) ||
        !NextField(&cursor, count, sizeof count) || !NextField(&cursor, list, sizeof list) ||
        !NextField(&cursor, path, sizeof path, true) || !ParseNumber(type, 10, &typeValue) ||
        !ParseNumber(start, 10, &startValue) || !ParseNumber(reset, 10, &resetValue) ||
        !ParseNumber(flag, 1, &flagValue) || !ParseNumber(count, 2, &countValue) ||
        countValue > MaxFailureActions || !ParseActions(list, countValue, actions)) {
        SetLastError(ERROR_INVALID_DATA);
        return Failed(outcome, "reading the rollback's data");
    }

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
        SERVICE_FAILURE_ACTIONSA failure = {resetValue, NULL, NULL, countValue, actions};
        SERVICE_FAILURE_ACTIONS_FLAG restartOnError = {flagValue ? TRUE : FALSE};
        if (!ChangeServiceConfigA(service, typeValue, startValue, SERVICE_NO_CHANGE, path, NULL, NULL, NULL, NULL,
                                  NULL, NULL))
            outcome = Failed(outcome, "ChangeServiceConfigA");
        if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, (LPBYTE)&failure) && !outcome.failedStep)
            outcome = Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS)");
        if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, (LPBYTE)&restartOnError) &&
            !outcome.failedStep)
            outcome = Failed(outcome, "ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return outcome;
}
