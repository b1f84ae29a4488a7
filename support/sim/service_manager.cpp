// Simulated platform: the service control manager: dispatcher, handler, status reports and queries.
// What it stores for each service, and its configuration queries: service_config.cpp.
#include "sim_state.h"

using namespace simstate;

// ---- service control manager -----------------------------------------------

// The installed type of the service this run starts.
static DWORD OwnInstalledType(const State& s)
{
    auto it = s.script.installed.find(s.script.serviceName);
    return it != s.script.installed.end() ? it->second.type : s.script.installedType;
}

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table)
{
    State& s = S();
    std::unique_lock<std::mutex> lock(s.m);
    s.mainThread = std::this_thread::get_id();
    std::string names;
    const SERVICE_TABLE_ENTRYA* entry = nullptr;
    for (const SERVICE_TABLE_ENTRYA* e = table; e->lpServiceName; e++) {
        names += std::string(names.empty() ? "" : ",") + e->lpServiceName;
        if (s.script.serviceName == e->lpServiceName)
            entry = e;
    }
    // An own-process service runs the table's first entry whatever the names
    // say, with its own name as argument 0; a shared process runs the entry
    // named for the service. Evidence: MS docs SERVICE_TABLE_ENTRY ("If the
    // service is installed with the SERVICE_WIN32_OWN_PROCESS service type,
    // this member is ignored"); Wine matches names (measured here: a start
    // under another name fails with 87).
    if (!(OwnInstalledType(s) & SERVICE_WIN32_SHARE_PROCESS) && table->lpServiceName)
        entry = table;
    Record(s, "StartServiceCtrlDispatcherA", names);
    if (!s.script.underServiceManager)
        return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    if (!entry)
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);

    // ServiceMain's arguments live as long as its thread.
    std::vector<std::string> args{s.script.serviceName};
    args.insert(args.end(), s.script.extraArguments.begin(), s.script.extraArguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    LPSERVICE_MAIN_FUNCTIONA proc = entry->lpServiceProc;
    std::thread service([&] {
        proc((DWORD)args.size(), argv.data());
        std::lock_guard<std::mutex> g(s.m);
        s.serviceDone = true;
        s.cv.notify_all();
    });
    while (s.script.concurrentControls && !s.serviceDone) {
        bool due = s.nextControl < s.script.controls.size() && s.script.controls[s.nextControl].first <= s.now;
        if (due && s.handler && !s.stoppedReported) {
            DWORD control = s.script.controls[s.nextControl++].second;
            if (DWORD refusal = ControlRefusal(s, control)) {
                Record(s, "(control refused)", std::to_string(control) + "," + std::to_string(refusal));
                continue;
            }
            Record(s, "(control)", std::to_string(control));
            LPHANDLER_FUNCTION handler = s.handler;
            s.handlerRunning = true;
            lock.unlock();
            handler(control);
            lock.lock();
            s.handlerRunning = false;
            s.cv.notify_all();
        } else {
            s.cv.wait_for(lock, std::chrono::microseconds(200));
        }
    }
    for (;;) {
        s.cv.wait(lock, [&] { return s.pendingControl >= 0 || s.serviceDone; });
        if (s.pendingControl >= 0) {
            DWORD control = (DWORD)s.pendingControl;
            s.pendingControl = -1;
            Record(s, "(control)", std::to_string(control));
            LPHANDLER_FUNCTION handler = s.handler;
            s.handlerRunning = true;
            lock.unlock();
            handler(control);
            lock.lock();
            s.handlerRunning = false;
            s.cv.notify_all();
            continue;
        }
        break;
    }
    lock.unlock();
    service.join();
    lock.lock();
    // Windows returns from the dispatcher only once the service reported
    // stopped and the dispatcher's thread took the message that follows;
    // without them the real process would wait for ever.
    s.dispatcherReturned = s.stoppedReported && !s.dispatcherStalled;
    return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR name, LPHANDLER_FUNCTION handler)
{
    auto lock = Enter("RegisterServiceCtrlHandlerA", Text(name));
    State& s = S();
    if (s.script.failRegister)
        return (Fail(s.script.failRegister), nullptr);
    // For an own-process service the name is not checked. Evidence: MS docs
    // RegisterServiceCtrlHandler ("If the service type is
    // SERVICE_WIN32_OWN_PROCESS, the function does not verify that the
    // specified name is valid").
    if (!name || ((OwnInstalledType(s) & SERVICE_WIN32_SHARE_PROCESS) && s.script.serviceName != name))
        return (Fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr);
    s.handler = handler;
    s.statusHandle = (SERVICE_STATUS_HANDLE)NewHandle(s, {Kind::Service, "status"});
    return s.statusHandle;
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    // The record is read before the simulation's own lock is taken, so that
    // lock cannot hide an unguarded write from the sanitizer.
    SERVICE_STATUS sent = *status;
    State& s = S();
    std::unique_lock<std::mutex> lock(s.m);
    bool main = std::this_thread::get_id() == s.mainThread;
    // A control scripted for this call of ServiceMain's arrives while its
    // report is on its way: the report lands once the handler has returned.
    size_t landed = s.reports.size();
    DeliverAtCall(s, lock);
    Record(s, "SetServiceStatus", std::to_string(sent.dwCurrentState));
    bool overtaken = false;
    for (size_t i = landed; i < s.reports.size(); i++)
        overtaken = overtaken || (s.reports[i].mainThread != main &&
                                  s.reports[i].status.dwCurrentState != sent.dwCurrentState);
    bool first = !main && s.reportCount++ == 0;
    if (!handle || handle != s.statusHandle) {
        s.reports.push_back({s.now, main, false, sent, overtaken});
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (first && s.script.failFirstReport) {
        s.reports.push_back({s.now, main, false, sent, overtaken});
        return Fail(s.script.failFirstReport);
    }
    s.reports.push_back({s.now, main, true, sent, overtaken});
    if (sent.dwCurrentState == SERVICE_STOPPED && !s.stoppedReported) {
        s.stoppedReported = true;
        s.callsAtStopped = s.calls.size();
        // The stopped report of a process's last service goes on to the
        // dispatcher, and the service manager waits until its thread takes
        // the message.
        WaitDispatcherFree(s, lock);
    }
    return TRUE;
}

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access)
{
    auto lock = Enter("OpenSCManagerA", Text(machine) + "," + Text(database) + "," + Hex(access));
    State& s = S();
    if (s.script.failOpenManager)
        return (Fail(s.script.failOpenManager), nullptr);
    s.openServiceHandles++;
    return (SC_HANDLE)NewHandle(s, {Kind::Manager, ""});
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access)
{
    auto lock = Enter("OpenServiceA", Text(name) + "," + Hex(access));
    State& s = S();
    Handle* m = Find(s, (HANDLE)manager);
    if (!m || m->kind != Kind::Manager)
        return (Fail(ERROR_INVALID_HANDLE), nullptr);
    if (s.script.failOpenService)
        return (Fail(s.script.failOpenService), nullptr);
    if (!name || (s.script.serviceName != name && !s.script.installed.count(name)))
        return (Fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr);
    s.openServiceHandles++;
    return (SC_HANDLE)NewHandle(s, {Kind::Service, name});
}

// The running service is installed by definition, with the scripted type.
static sim::InstalledService Installed(State& s, const std::string& name)
{
    auto it = s.script.installed.find(name);
    if (it != s.script.installed.end())
        return it->second;
    sim::InstalledService running;
    running.type = s.script.installedType;
    return running;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    auto lock = Enter("QueryServiceStatus", "");
    State& s = S();
    Handle* h = Find(s, (HANDLE)service);
    if (!h || h->kind != Kind::Service)
        return Fail(ERROR_INVALID_HANDLE);
    if (s.script.failQuery)
        return Fail(s.script.failQuery);
    // Only the service this run starts is running; the others are stopped.
    DWORD state = h->name == s.script.serviceName ? SERVICE_START_PENDING : SERVICE_STOPPED;
    sim::InstalledService installed = Installed(s, h->name);
    *status = {installed.reportedType ? installed.reportedType : installed.type, state, 0, 0, 0, 0, 0};
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle)
{
    auto lock = Enter("CloseServiceHandle", "");
    State& s = S();
    Handle* h = Find(s, (HANDLE)handle);
    if (!h || (h->kind != Kind::Manager && h->kind != Kind::Service))
        return Fail(ERROR_INVALID_HANDLE);
    s.handles.erase((uintptr_t)handle);
    s.openServiceHandles--;
    return TRUE;
}

// Every installed service of the types asked for, as many as fit, the names
// after the records; the rest with ERROR_MORE_DATA, the bytes the next would
// need and where to resume. Evidence: MS docs EnumServicesStatus
// (ERROR_MORE_DATA, lpResumeHandle, pcbBytesNeeded).
BOOL WINAPI EnumServicesStatusA(SC_HANDLE manager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSA services,
                                DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resume)
{
    auto lock = Enter("EnumServicesStatusA", Hex(type) + "," + std::to_string(size));
    State& s = S();
    Handle* m = Find(s, (HANDLE)manager);
    if (!m || m->kind != Kind::Manager)
        return Fail(ERROR_INVALID_HANDLE);
    if (!needed || !returned || !(type & SERVICE_WIN32) || !state)
        return Fail(ERROR_INVALID_PARAMETER);
    std::vector<std::string> names;
    for (const auto& [name, service] : s.script.installed)
        if (service.type & type)
            names.push_back(name);
    bool running = false;
    for (const std::string& name : names)
        running = running || strcasecmp(name.c_str(), s.script.serviceName.c_str()) == 0;
    if (!running && (s.script.installedType & type))
        names.push_back(s.script.serviceName);
    DWORD first = resume ? *resume : 0, count = 0, used = 0;
    *needed = 0;
    std::vector<std::string> fitted;
    for (DWORD i = first; i < names.size(); i++) {
        DWORD bytes = (DWORD)(sizeof(ENUM_SERVICE_STATUSA) + 2 * (names[i].size() + 1));
        if (used + bytes > size) {
            *needed = bytes;
            break;
        }
        used += bytes;
        fitted.push_back(names[i]);
    }
    char* strings = (char*)(services + fitted.size());
    for (const std::string& name : fitted) {
        sim::InstalledService installed = Installed(s, name);
        ENUM_SERVICE_STATUSA& e = services[count++];
        e.lpServiceName = strings;
        strings += sprintf(strings, "%s", name.c_str()) + 1;
        e.lpDisplayName = strings;
        strings += sprintf(strings, "%s", name.c_str()) + 1;
        DWORD current = name == s.script.serviceName ? SERVICE_START_PENDING : SERVICE_STOPPED;
        e.ServiceStatus = {installed.type, current, 0, 0, 0, 0, 0};
    }
    *returned = count;
    if (first + count < names.size()) {
        if (resume)
            *resume = first + count;
        return Fail(ERROR_MORE_DATA);
    }
    if (resume)
        *resume = 0;
    return TRUE;
}
