// The package's service through the service manager's ANSI API: read every
// setting, create the service or change it in place, set recovery, put it
// back after a failed installation, delete it at a real uninstall. HOLVMSI.DLL's
// custom actions call these; the native tests run them on the simulation.
//
// An upgrade, repair or change alters the installed service in place and
// only in what the package's properties name: its type, start type and
// binary path, and its recovery actions when RESTARTDELAY is given.
// Everything else (the logon account and its password, description,
// dependencies, delayed start, recovery set by hand, security) stays as the
// administrator left it. Only the uninstall of the product deletes the
// service, never the removal of an older version within an upgrade.
//
// An older version's removal may still delete it: one built before this
// rule, or under an installer that does not tell the removal it is part of an
// upgrade (Wine's msiexec sets no UPGRADINGPRODUCTCODE). The installation
// therefore reads every setting before anything changes, and a service that
// was there and is gone when the new version configures it is created again
// with all of them; only a password cannot be read, and is logged as needed.
#pragma once

#include "support/platform.h"

#include <stddef.h>

enum {
    // QueryServiceConfig and QueryServiceConfig2 return at most 8 KB, so no
    // text they hold is longer.
    ServiceQuerySize = 8192,
    ServiceNameSize = 257,  // a service's name: 256 characters
    MaxFailureActions = 32,
    // The text of every setting (FormatServiceSettings): texts in hex.
    SettingsTextSize = 24 * 1024,
    // RESTARTDELAY: milliseconds before each of the three restarts, at most
    // a day, the period after which the failure count starts again.
    LongestRestartDelay = 86400000,
    RecoveryResetSeconds = 86400,
    RecoveryRestarts = 3,
};

// Every setting of an installed service but its password. Lists
// (dependencies, privileges) are names each ended by a zero, the list by an
// empty one. `known` has bit 1 << level for each QueryServiceConfig2 level
// the service manager reported; one it does not know (Wine knows few) it
// does not keep either.
struct ServiceSettings {
    DWORD type, startType, errorControl, tagId;
    char binaryPath[ServiceQuerySize];
    char loadOrderGroup[ServiceQuerySize];
    char dependencies[ServiceQuerySize];
    char startName[ServiceQuerySize];
    char displayName[ServiceQuerySize];
    DWORD known;
    char description[ServiceQuerySize];
    DWORD resetPeriod;
    char rebootMessage[ServiceQuerySize];
    char command[ServiceQuerySize];
    DWORD actionCount;
    SC_ACTION actions[MaxFailureActions];
    BOOL failureFlag, delayedAutoStart;
    DWORD preshutdownTimeout;
    char requiredPrivileges[ServiceQuerySize];
    DWORD sidType;
};

// Reads every setting of an open service (SERVICE_QUERY_CONFIG). 0, or the
// error of the first query that failed other than for an unknown level.
DWORD ReadServiceSettings(SC_HANDLE service, ServiceSettings* out);

// The settings as one line of text, "NAME|0" for a service that is not
// installed (null settings); false when it does not fit.
bool FormatServiceSettings(const char* name, const ServiceSettings* settings, char* out, size_t size);

// That text back: the name, whether the service was installed, and if so
// its settings.
bool ParseServiceSettings(const char* text, char (&name)[ServiceNameSize], bool* installed, ServiceSettings* out);

// Whether an account is LocalSystem by any of its names.
bool IsLocalSystem(const char* account);

// Whether an account logs on with a password, which no query returns: all
// but LocalSystem, LocalService, NetworkService, virtual accounts (NT
// SERVICE\...) and managed service accounts (ending in $).
bool AccountHasPassword(const char* account);

// The service as the installation asks for it.
struct PackageService {
    char name[ServiceNameSize];
    char binaryPath[MAX_PATH + 2];  // quoted: the folder may hold spaces
    DWORD type, startType;
    bool setRecovery;  // RESTARTDELAY given
    DWORD restartDelay;
};

// RESTARTDELAY's text: one to eight digits, at most LongestRestartDelay.
bool ParseRestartDelay(const char* text, DWORD* ms);

// "NAME|INTERACTIVE|STARTTYPE|RESTARTDELAY|FOLDER|SETTINGS", as the package
// passes it: INTERACTIVE 0 or 1, STARTTYPE auto, demand or disabled,
// RESTARTDELAY empty when not given, FOLDER with or without its last
// backslash, SETTINGS what FormatServiceSettings made of the service before
// the installation (empty when it could not be read). `settings` points at
// that last part.
bool ParsePackageService(const char* data, PackageService* out, const char** settings);

// What a step did, for the installation's log: the call that failed (null
// when none did) and its error; whether it created the service, and whether
// created again after an older version's removal deleted it; whether the
// account then needs its password set again; a setting this service manager
// does not know (null when none), left as it is.
struct ServiceOutcome {
    const char* failedStep;
    DWORD error;
    bool created, recreated, passwordNeeded;
    const char* unsupported;
};

// Creates the service, or changes the existing one in place: type, start
// type and binary path, and recovery when asked for; nothing else. `before`
// is the service before the installation (null: unknown, or not installed);
// when it was there and is gone, it is created again with its settings.
ServiceOutcome ApplyPackageService(const PackageService& service, const ServiceSettings* before);

// "NAME|UPGRADINGPRODUCTCODE" of a removal: the service is kept when the
// removal is part of an upgrade, which changes it in place afterwards.
bool ParseRemoval(const char* data, char (&name)[ServiceNameSize], bool* keep);

// Deletes the service; one that does not exist is no failure.
ServiceOutcome DeletePackageService(const char* name);

// Puts back the service as FormatServiceSettings described it before the
// installation: deletes it if it was not installed, else restores what
// ApplyPackageService changes (type, start type, binary path, recovery).
ServiceOutcome RestoreServiceSettings(const char* text);
