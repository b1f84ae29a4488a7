// The package's service logic on the simulated service manager: one table of
// settings an administrator gives the installed service. Each goes through a
// repair, an upgrade, an upgrade whose older version's removal deleted the
// service, an upgrade that makes the service interactive and sets recovery,
// that upgrade's rollback, and an uninstall; every field the service manager
// stores is compared each time, and the package's reader against them. Then
// the package's rule for the folders on the way to its install folder.
#include "packaging/msi/ansi_text.h"
#include "packaging/msi/folder_lock.h"
#include "packaging/msi/folder_trust.h"
#include "packaging/msi/service_settings.h"
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Fields = std::vector<std::string>;

std::string Join(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += name + ";";
    return text;
}

// Every field the simulated service manager stores, one a line, so a
// difference names the field.
Fields FieldsOf(const sim::InstalledService& s)
{
    std::string actions;
    for (const auto& a : s.actions)
        actions += std::to_string(a.first) + "/" + std::to_string(a.second) + ";";
    return {
        "type=" + std::to_string(s.type),
        "startType=" + std::to_string(s.startType),
        "errorControl=" + std::to_string(s.errorControl),
        "binaryPath=" + s.binaryPath,
        "loadOrderGroup=" + s.loadOrderGroup,
        "tagId=" + std::to_string(s.tagId),
        "dependencies=" + Join(s.dependencies),
        "startName=" + s.startName,
        "password=" + s.password,
        "displayName=" + s.displayName,
        "description=" + s.description,
        "resetPeriod=" + std::to_string(s.resetPeriod),
        "actions=" + actions,
        "rebootMessage=" + s.rebootMessage,
        "command=" + s.command,
        "failureFlag=" + std::to_string(s.failureFlag),
        "delayedAutoStart=" + std::to_string(s.delayedAutoStart),
        "preshutdownTimeout=" + std::to_string(s.preshutdownTimeout),
        "requiredPrivileges=" + Join(s.requiredPrivileges),
        "sidType=" + std::to_string(s.sidType),
    };
}

// The same fields as the package's own reader sees them through the API
// (all but the password, which no query returns).
Fields FieldsRead(const ServiceSettings& s)
{
    auto list = [](const char* p) {
        std::vector<std::string> names;
        for (; *p; p += strlen(p) + 1)
            names.push_back(p);
        return Join(names);
    };
    std::string actions;
    for (DWORD i = 0; i < s.actionCount; i++)
        actions += std::to_string(s.actions[i].Type) + "/" + std::to_string(s.actions[i].Delay) + ";";
    return {
        "type=" + std::to_string(s.type),
        "startType=" + std::to_string(s.startType),
        "errorControl=" + std::to_string(s.errorControl),
        "binaryPath=" + std::string(s.binaryPath),
        "loadOrderGroup=" + std::string(s.loadOrderGroup),
        "tagId=" + std::to_string(s.tagId),
        "dependencies=" + list(s.dependencies),
        "startName=" + std::string(s.startName),
        "password=(not read)",
        "displayName=" + std::string(s.displayName),
        "description=" + std::string(s.description),
        "resetPeriod=" + std::to_string(s.resetPeriod),
        "actions=" + actions,
        "rebootMessage=" + std::string(s.rebootMessage),
        "command=" + std::string(s.command),
        "failureFlag=" + std::to_string(s.failureFlag),
        "delayedAutoStart=" + std::to_string(s.delayedAutoStart),
        "preshutdownTimeout=" + std::to_string(s.preshutdownTimeout),
        "requiredPrivileges=" + list(s.requiredPrivileges),
        "sidType=" + std::to_string(s.sidType),
    };
}

const char* const Name = "QuenraService";
// HolvConfigureService's data without the settings read before: the first
// installation's, and a later one's that makes the service interactive and
// sets recovery.
const std::string Installed = "QuenraService|0|auto||C:\\Program Files\\Holv\\|";
const std::string Interactive = "QuenraService|1|demand|60000|C:\\Program Files\\Holv|";
const std::string InstalledPath = "\"C:\\Program Files\\Holv\\HOLVSVC.EXE\"";

sim::InstalledService* Stored()
{
    auto it = sim::script().installed.find(Name);
    return it == sim::script().installed.end() ? nullptr : &it->second;
}

// An administrator's change, through the service manager as sc.exe makes it.
using Change = std::function<BOOL(SC_HANDLE)>;

BOOL Config2(SC_HANDLE s, DWORD level, void* info) { return ChangeServiceConfig2A(s, level, info); }

BOOL Config(SC_HANDLE s, DWORD type, DWORD start, DWORD error, const char* path, const char* group,
            const char* dependencies, const char* account, const char* password, const char* display)
{
    return ChangeServiceConfigA(s, type, start, error, path, group, nullptr, dependencies, account, password, display);
}

const DWORD Same = SERVICE_NO_CHANGE;

struct Row {
    const char* what;
    Change change;
    bool interactiveAllowed;  // the account is LocalSystem
    bool passwordNeeded;      // the account logs on with a password
};

// What the installation reads before it changes anything, as HolvInspect does.
std::string Before()
{
    auto settings = std::make_unique<ServiceSettings>();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, Name, SERVICE_QUERY_CONFIG);
    bool read = service && ReadServiceSettings(service, settings.get()) == 0;
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    static char text[SettingsTextSize];
    EXPECT_TRUE(FormatServiceSettings(Name, read ? settings.get() : nullptr, text, sizeof text));
    return text;
}

// One run of HolvConfigureService on its data.
ServiceOutcome Configure(const std::string& data)
{
    PackageService service;
    const char* text = nullptr;
    auto before = std::make_unique<ServiceSettings>();
    char name[ServiceNameSize];
    bool installed = false;
    if (!ParsePackageService(data.c_str(), &service, &text))
        return {"ParsePackageService", 0, false, false, false, nullptr};
    bool read = *text && ParseServiceSettings(text, name, &installed, before.get());
    EXPECT_TRUE(!*text || read) << text;
    return ApplyPackageService(service, read && installed ? before.get() : nullptr);
}

void Apply(const std::string& data)
{
    ServiceOutcome outcome = Configure(data);
    ASSERT_EQ(outcome.failedStep, nullptr) << data << ": error " << outcome.error;
}

// The service manager's own rules, where an installer meets them: names,
// a running service deleted, the preshutdown default.
TEST(PackageService, TheServiceManagerKeepsWindowsRulesForNamesAndDeletion)
{
    sim::Reset();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    for (const std::string& name : {std::string(), std::string("Pay/roll"), std::string("Pay\\roll"),
                                    std::string(257, 'x')}) {
        SetLastError(0);
        EXPECT_EQ(CreateServiceA(manager, name.c_str(), nullptr, SERVICE_QUERY_CONFIG, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, InstalledPath.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr),
                  nullptr) << name;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME) << name;
    }
    SC_HANDLE created = CreateServiceA(manager, "Payroll", nullptr, SERVICE_QUERY_CONFIG, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, InstalledPath.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(sim::script().installed["Payroll"].preshutdownTimeout, 10000u);
    CloseServiceHandle(created);
    // The running service is marked for deletion: not deleted twice, not made again.
    SC_HANDLE running = OpenServiceA(manager, "QuenraService", SERVICE_QUERY_CONFIG);
    EXPECT_TRUE(DeleteService(running));
    EXPECT_FALSE(DeleteService(running));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(Config(running, Same, SERVICE_AUTO_START, Same, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(CreateServiceA(manager, "quenraservice", nullptr, SERVICE_QUERY_CONFIG, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, InstalledPath.c_str(), nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    CloseServiceHandle(running);
    CloseServiceHandle(manager);
}

TEST(PackageService, EverySettingSurvivesRepairUpgradeAndRollback)
{
    static const char* const Privileges = "SeChangeNotifyPrivilege\0SeImpersonatePrivilege\0";
    static SC_ACTION actions[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RUN_COMMAND, 1000}, {SC_ACTION_NONE, 0}};
    const std::vector<Row> rows = {
        {"nothing changed", [](SC_HANDLE) { return TRUE; }, true, false},
        {"description",
         [](SC_HANDLE s) {
             SERVICE_DESCRIPTIONA d = {(LPSTR) "Runs the Quenra worker | for the plant floor"};
             return Config2(s, SERVICE_CONFIG_DESCRIPTION, &d);
         },
         true, false},
        {"account without a password",
         [](SC_HANDLE s) { return Config(s, Same, Same, Same, 0, 0, 0, "NT AUTHORITY\\LocalService", "", 0); },
         false, false},
        // LocalSystem by its other names: interactive stays allowed.
        {"LocalSystem as .\\LocalSystem",
         [](SC_HANDLE s) { return Config(s, Same, Same, Same, 0, 0, 0, ".\\LocalSystem", "", 0); }, true, false},
        {"LocalSystem as COMPUTER\\LocalSystem",
         [](SC_HANDLE s) { return Config(s, Same, Same, Same, 0, 0, 0, "SIMHOST\\LocalSystem", "", 0); }, true,
         false},
        {"account with a password",
         [](SC_HANDLE s) { return Config(s, Same, Same, Same, 0, 0, 0, "PLANT\\svc-quenra", "S3cret!", 0); }, false,
         true},
        {"error control, group, dependencies, display name",
         [](SC_HANDLE s) {
             return Config(s, Same, Same, SERVICE_ERROR_SEVERE, 0, "HolvGroup", "Tcpip\0+NetworkProvider\0\0", 0, 0,
                           "Quenra worker host");
         },
         true, false},
        {"recovery set by hand",
         [](SC_HANDLE s) {
             SERVICE_FAILURE_ACTIONSA f = {3600, (LPSTR) "Quenra restarts the computer", (LPSTR) "C:\\Tools\\alert.cmd",
                                           3, actions};
             SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
             return Config2(s, SERVICE_CONFIG_FAILURE_ACTIONS, &f) &&
                    Config2(s, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
         },
         true, false},
        {"delayed start, preshutdown, privileges, service SID",
         [](SC_HANDLE s) {
             SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
             SERVICE_PRESHUTDOWN_INFO preshutdown = {60000};
             SERVICE_REQUIRED_PRIVILEGES_INFOA privileges = {(LPSTR)Privileges};
             SERVICE_SID_INFO sid = {SERVICE_SID_TYPE_RESTRICTED};
             return Config2(s, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed) &&
                    Config2(s, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown) &&
                    Config2(s, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges) &&
                    Config2(s, SERVICE_CONFIG_SERVICE_SID_INFO, &sid);
         },
         true, false},
        // The package's own three: each installation sets them from its
        // properties again.
        {"type, start type and path changed by hand",
         [](SC_HANDLE s) {
             return Config(s, SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DISABLED, Same,
                           "C:\\Elsewhere\\HOLVSVC.EXE -x", 0, 0, 0, 0, 0);
         },
         true, false},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sim::Reset();
        sim::script().serviceName.clear();  // nothing runs: only what the package creates is installed

        // The first installation, then the administrator's change.
        Apply(Installed + Before());
        ASSERT_NE(Stored(), nullptr);
        EXPECT_EQ(Stored()->description, "HOLV service host: runs the worker program its INI file names");
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = OpenServiceA(manager, Name, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG);
        ASSERT_TRUE(row.change(service));

        // The package's reader sees what the service manager holds.
        auto read = std::make_unique<ServiceSettings>();
        ASSERT_EQ(ReadServiceSettings(service, read.get()), 0u);
        Fields stored = FieldsOf(*Stored());
        for (std::string& field : stored)
            if (field.rfind("password=", 0) == 0)
                field = "password=(not read)";
        EXPECT_EQ(FieldsRead(*read), stored);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);

        // After a repair or upgrade: as the administrator left it, but for the
        // package's own three.
        const sim::InstalledService administrators = *Stored();
        sim::InstalledService expected = administrators;
        expected.type = SERVICE_WIN32_OWN_PROCESS;
        expected.startType = SERVICE_AUTO_START;
        expected.binaryPath = InstalledPath;

        Apply(Installed + Before());  // repair
        EXPECT_EQ(FieldsOf(*Stored()), FieldsOf(expected)) << "after the repair";

        // Upgrade: the older version's removal keeps the service, the newer
        // one changes it in place.
        char removed[ServiceNameSize];
        bool keep = false;
        std::string before = Before();
        ASSERT_TRUE(ParseRemoval("QuenraService|{5A3F0C2E-7B8D-4E21-9C6A-0D1E2F3A4B5C}", removed, &keep));
        EXPECT_TRUE(keep);
        Apply(Installed + before);
        EXPECT_EQ(FieldsOf(*Stored()), FieldsOf(expected)) << "after the upgrade";

        // An older version's removal that deletes it anyway: created again
        // with all it had but the password, which no query returns, and with
        // the package's type, start type and binary path, not the ones it had.
        Stored()->startType = SERVICE_DISABLED;
        Stored()->binaryPath = "\"C:\\Old\\HOLVSVC.EXE\" -x";
        if (row.interactiveAllowed)
            Stored()->type |= SERVICE_INTERACTIVE_PROCESS;
        before = Before();
        ASSERT_EQ(DeletePackageService(Name).failedStep, nullptr);
        ServiceOutcome outcome = Configure(Installed + before);
        EXPECT_EQ(outcome.failedStep, nullptr);
        EXPECT_TRUE(outcome.recreated);
        EXPECT_EQ(outcome.passwordNeeded, row.passwordNeeded);
        sim::InstalledService recreated = expected;
        recreated.password.clear();
        EXPECT_EQ(FieldsOf(*Stored()), FieldsOf(recreated)) << "created again from " << before;

        // An upgrade given INTERACTIVE=1 and RESTARTDELAY=60000: only those
        // change, where the account allows it; its rollback puts all back.
        *Stored() = administrators;
        before = Before();
        outcome = Configure(Interactive + before);
        sim::InstalledService changed = administrators;
        if (row.interactiveAllowed) {
            EXPECT_EQ(outcome.failedStep, nullptr);
            changed.type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
            changed.startType = SERVICE_DEMAND_START;
            changed.binaryPath = InstalledPath;
            changed.resetPeriod = 86400;
            changed.actions.assign(3, {SC_ACTION_RESTART, 60000});
            changed.failureFlag = true;
        } else {
            // Windows refuses an interactive service with another account.
            EXPECT_STREQ(outcome.failedStep, "ChangeServiceConfigA");
            EXPECT_EQ(outcome.error, (DWORD)ERROR_INVALID_PARAMETER);
        }
        EXPECT_EQ(FieldsOf(*Stored()), FieldsOf(changed)) << "after the upgrade with properties";
        outcome = RestoreServiceSettings(before.c_str());
        EXPECT_EQ(outcome.failedStep, nullptr);
        EXPECT_EQ(FieldsOf(*Stored()), FieldsOf(administrators)) << "after its rollback, from " << before;

        // The uninstall deletes it; the rollback of a first installation too.
        ASSERT_TRUE(ParseRemoval("QuenraService|", removed, &keep));
        EXPECT_FALSE(keep);
        EXPECT_EQ(DeletePackageService(removed).failedStep, nullptr);
        EXPECT_EQ(Stored(), nullptr);
        before = Before();
        EXPECT_EQ(before, "QuenraService|0");
        Apply(Installed + before);
        EXPECT_EQ(RestoreServiceSettings(before.c_str()).failedStep, nullptr);
        EXPECT_EQ(Stored(), nullptr);
    }
}

}  // namespace

// The package's rule for the folders on the way to its install folder, on the
// simulated descriptors (the test folder plays C:\, with Windows' own rights,
// and holds Program Files): each row is one existing folder and its parent.
TEST(PackageFolder, RefusesEveryFolderOthersCouldReplace)
{
    namespace fs = std::filesystem;
    const std::string root = fs::temp_directory_path() / ("holvfolder-" + std::to_string(getpid()));
    const std::string locked = sim::LockedFolder;
    struct Row {
        const char* what;
        std::string parent, folder;  // relative to C:\; a descriptor each, "" to take what is passed on
        std::string parentSddl, folderSddl;
        bool reparse, ownerTrusted, installFolder;
        FolderProblem expected;
    } rows[] = {
        {"C:\\SVC made fresh, locked", "", "SVC", "", locked, false, true, true, FolderFine},
        {"Program Files\\Holv", "PF", "PF/Holv", "", locked, false, true, true, FolderFine},
        {"C:\\Tools made with mkdir, above a locked folder", "", "Tools", "", "", false, true, false,
         FolderRebuildable},
        // Alone it is fine: C:\Tools is refused at its own turn.
        {"a locked folder under that C:\\Tools", "Tools", "Tools/SVC", "", locked, false, true, true, FolderFine},
        {"a junction as the install folder", "", "J", "", locked, true, true, true, FolderReparse},
        {"a junction on the way", "", "J", "", "", true, true, false, FolderReparse},
        {"an existing folder a user owns", "", "U", "", "O:S-1-5-21-7-7-7-1001D:P(A;OICI;FA;;;SY)", false, false,
         true, FolderForeignOwner},
        {"an existing folder where Users may change permissions: a handle opened before keeps it", "L", "L/W", locked,
         "D:P(A;OICI;FA;;;BA)(A;;0x40000;;;BU)", false, true, true, FolderOpenToOthers},
        {"Everyone may delete it, but none may make a folder beside it: it is locked", "L", "L/E", locked,
         "D:P(A;OICI;FA;;;BA)(A;;0x1301ff;;;WD)", false, true, true, FolderFine},
        {"a parent that lets Users delete what it holds and add folders", "P", "P/SVC",
         "D:P(A;OICI;FA;;;BA)(A;;0x44;;;BU)", locked, false, true, true, FolderRebuildable},
        {"a callback allow for Authenticated Users", "", "X", "",
         "D:P(A;OICI;FA;;;BA)(XA;;SD;;;AU;(Member_of {SID(AU)}))", false, true, false, FolderRebuildable},
        {"a deny for Everyone first", "", "D", "", "D:P(D;;SD;;;WD)(A;OICI;FA;;;BA)(A;;SD;;;AU)", false, true,
         false, FolderFine},
        {"an object deny does not take away", "", "O", "",
         "D:P(OD;;SD;;;WD)(A;OICI;FA;;;BA)(A;;SD;;;AU)", false, true, false, FolderRebuildable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sim::Reset();
        fs::remove_all(root);
        fs::create_directories(root + "/" + row.folder);
        fs::create_directories(root + "/PF");
        sim::script().access.driveRoot = root;
        sim::script().access.programFiles = root + "/PF";
        if (!row.parentSddl.empty())
            sim::script().access.files[root + "/" + row.parent] = row.parentSddl;
        if (!row.folderSddl.empty())
            sim::script().access.files[root + "/" + row.folder] = row.folderSddl;
        auto rights = [](const std::string& path) {
            PACL dacl = nullptr;
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            EXPECT_EQ(GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, &dacl, nullptr, &descriptor),
                      (DWORD)ERROR_SUCCESS);
            DWORD r = OthersRights(dacl);
            LocalFree(descriptor);
            return r;
        };
        std::string parent = row.parent.empty() ? root : root + "/" + row.parent;
        EXPECT_EQ(JudgeFolder(row.reparse, row.ownerTrusted, rights(root + "/" + row.folder), rights(parent),
                              row.installFolder),
                  row.expected);
    }
    fs::remove_all(root);
}

// The folder lock and its rollback on the simulated file system (C:\ with
// Windows' own rights): what the lock leaves on each folder, that a refusal
// changes nothing, and that the rollback gives back every descriptor it
// replaced and removes the folders it made while they are empty.
TEST(PackageFolder, LocksTheFolderAndItsRollbackPutsBackWhatItChanged)
{
    namespace fs = std::filesystem;
    const std::string root = fs::temp_directory_path() / ("holvlock-" + std::to_string(getpid()));
    const std::string locked = "O:S-1-5-32-544D:P(A;OICI;0x1f01ff;;;S-1-5-18)(A;OICI;0x1f01ff;;;S-1-5-32-544)"
                               "(A;OICI;0x1200a9;;;S-1-5-32-545)";
    const std::string userOwned = "O:S-1-5-21-7-7-7-1001D:P(A;OICI;FA;;;S-1-5-21-7-7-7-1001)";
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, std::string>> made;  // folder, descriptor ("": what is passed on)
        std::string link, target;                               // a junction, when given
        std::string folder;
        const char* says;
        std::vector<std::string> lockedAfter;  // empty: refused, nothing changes
        bool fileBeforeRollback;
    } rows[] = {
        {"C:\\SVC made fresh", {}, "", "", "SVC", "created", {"SVC"}, false},
        {"C:\\Tools\\Holv, neither there: C:\\Tools is made locked too", {}, "", "", "Tools\\Holv", "created",
         {"Tools", "Tools\\Holv"}, false},
        {"Program Files\\Holv", {{"PF", ""}}, "", "", "PF\\Holv", "created", {"PF\\Holv"}, false},
        {"an existing folder that inherits from its locked parent", {{"L", sim::LockedFolder}, {"L\\W", "O:BAD:(A;;FA;;;BA)"}},
         "", "", "L\\W", "already existed", {"L\\W"}, false},
        {"an existing folder of an administrator's own account", {{"A", "O:S-1-5-21-7-7-7-500D:PAI(A;OICI;FA;;;BA)"}},
         "", "", "A", "already existed", {"A"}, false},
        {"a junction as the folder, to a folder a user owns", {{"T", userOwned}}, "J", "T", "J", "junction", {},
         false},
        {"C:\\Tools made with mkdir, inheriting what C:\\ gives users", {{"Tools", ""}}, "", "", "Tools\\SVC",
         "renamed or deleted", {}, false},
        {"a folder that holds a file by the time of the rollback stays", {}, "", "", "SVC", "created", {"SVC"}, true},
    };
    auto native = [&](std::string name) {
        for (char& c : name)
            if (c == '\\')
                c = '/';
        return root + "/" + name;
    };
    auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sim::Reset();
        fs::remove_all(root);
        fs::create_directories(root);
        sim::script().drives['C'] = {root};
        sim::script().access.driveRoot = root;
        sim::script().access.programFiles = native("PF");
        std::map<std::string, std::string> before;  // what each folder there was
        for (const auto& [folder, sddl] : row.made) {
            fs::create_directories(native(folder));
            if (!sddl.empty())
                sim::script().access.files[native(folder)] = sddl;
        }
        if (!row.link.empty())
            fs::create_directory_symlink(native(row.target), native(row.link));
        for (const auto& [folder, sddl] : row.made)
            before[folder] = sim::FolderSddl("C:\\" + folder);

        std::wstring folder = wide("C:\\" + row.folder);
        wchar_t data[LockBeforeSize + 2048], text[8192];
        LockBefore(folder.c_str(), data, sizeof data / sizeof data[0]);
        std::wstring path = folder;
        bool done = LockFolder(&path[0], text, sizeof text / sizeof text[0]);
        EXPECT_EQ(done, !row.lockedAfter.empty());
        EXPECT_NE(std::wstring(text).find(wide(row.says)), std::wstring::npos) << std::string(text, text + wcslen(text));
        for (const std::string& f : row.lockedAfter)
            EXPECT_EQ(sim::FolderSddl("C:\\" + f), locked) << f;
        if (row.lockedAfter.empty()) {
            EXPECT_FALSE(fs::exists(native(row.folder)) && !row.link.empty() && !fs::is_symlink(native(row.link)));
            for (const auto& [f, sddl] : before)
                EXPECT_EQ(sim::FolderSddl("C:\\" + f), sddl) << f;
        }
        if (row.fileBeforeRollback)
            std::ofstream(native(row.folder) + "/HOLVSVC.EXE") << "MZ";

        UndoLock(data, text, sizeof text / sizeof text[0]);
        for (const auto& [f, sddl] : before)
            EXPECT_EQ(sim::FolderSddl("C:\\" + f), sddl) << "after the rollback: " << f;
        for (const std::string& f : row.lockedAfter)
            if (!before.count(f))
                EXPECT_EQ(fs::exists(native(f)), row.fileBeforeRollback) << "after the rollback: " << f;
        if (!row.link.empty())
            EXPECT_TRUE(fs::is_symlink(native(row.link)));
    }
    fs::remove_all(root);
}

// The package's ANSI text on a system whose code page is 1252, and on one
// whose code page is UTF-8, where Windows refuses the flags other code pages
// take: folders outside the code page refused, every folder fine under UTF-8.
TEST(PackageText, ConvertsToTheSystemsCodePageWhateverItIs)
{
    struct Case {
        UINT codePage;
        const wchar_t* text;
        const char* bytes;  // null: refused
    } cases[] = {
        {1252, L"C:\\SVC", "C:\\SVC"},
        {1252, L"C:\\Dienste\\M\u00fcller \u20ac", "C:\\Dienste\\M\xfcller \x80"},
        {1252, L"C:\\Dienste\\\u041d\u0430\u0431", nullptr},
        {1252, L"C:\\\u0100", nullptr},  // a best fit (A) would change the name
        {65001, L"C:\\SVC", "C:\\SVC"},
        {65001, L"C:\\Dienste\\M\u00fcller", "C:\\Dienste\\M\xc3\xbcller"},
        {65001, L"C:\\Dienste\\\u041d\u0430\u0431", "C:\\Dienste\\\xd0\x9d\xd0\xb0\xd0\xb1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.codePage) + " " + (c.bytes ? c.bytes : "(refused)"));
        sim::Reset();
        sim::script().ansiCodePage = c.codePage;
        char out[64] = {};
        EXPECT_EQ(ToAnsi(c.text, out, sizeof out), c.bytes != nullptr);
        if (c.bytes)
            EXPECT_STREQ(out, c.bytes);
    }
}
