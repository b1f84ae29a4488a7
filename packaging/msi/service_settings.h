// The package's service through the service manager's ANSI API: read every
// setting, create the service or change it in place, set recovery, put it
// back after a failed installation, delete it at a real uninstall. HOLVMSI.DLL's
// custom actions call these; the native tests run them on the simulation.
//
// An upgrade or repair changes the installed service in place and only in
// what the package's properties name: its type, start type and binary path,
// and its recovery actions when RESTARTDELAY is given. Everything else (the
// logon account and its password, description, dependencies, delayed start,
// recovery set by hand, security) stays as the administrator left it. Only
// the uninstall of the product deletes the service, never the removal of an
// older version within an upgrade.
#pragma once

#include "support/platform.h"

#include <stddef.h>

enum {
    // QueryServiceConfig and QueryServiceConfig2 return at most 8 KB, so no
    // text they hold is longer.
    ServiceQuerySize = 8192,
    ServiceNameSize = 257,  // a service's name: 256 characters
    MaxFailureActions = 32,
    // RESTARTDELAY: milliseconds before each of the three restarts, at most
    // a day, the period after which the failure count starts again.
    LongestRestartDelay = 86400000,
    RecoveryResetSeconds = 86400,
    RecoveryRestarts = 3,
};

// Every setting of an installed service but its password. Lists
// (dependencies, privileges) are names each ended by a zero, the list by an
// empty one.
struct ServiceSettings {
    DWORD type, startType, errorControl, tagId;
    char binaryPath[ServiceQuerySize];
    char loadOrderGroup[ServiceQuerySize];
    char dependencies[ServiceQuerySize];
    char startName[ServiceQuerySize];
    char displayName[ServiceQuerySize];
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
// error of the first query that failed; the others are still read.
DWORD ReadServiceSettings(SC_HANDLE service, ServiceSettings* out);

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

// "NAME|INTERACTIVE|STARTTYPE|RESTARTDELAY|FOLDER", as the package passes
// it: INTERACTIVE 0 or 1, STARTTYPE auto, demand or disabled, RESTARTDELAY
// empty when not given, FOLDER with or without its last backslash.
bool ParsePackageService(const char* data, PackageService* out);

// What a step did, for the installation's log: the call that failed (null
// when none did) and its error; whether it created the service; a setting
// this service manager does not know (null when none), left as it is.
struct ServiceOutcome {
    const char* failedStep;
    DWORD error;
    bool created;
    const char* unsupported;
};

// Creates the service, or changes the existing one in place: type, start
// type and binary path, and recovery when asked for; nothing else.
ServiceOutcome ApplyPackageService(const PackageService& service);

// "NAME|UPGRADINGPRODUCTCODE" of a removal: the service is kept when the
// removal is part of an upgrade, which changes it in place afterwards.
bool ParseRemoval(const char* data, char (&name)[ServiceNameSize], bool* keep);

// Deletes the service; one that does not exist is no failure.
ServiceOutcome DeletePackageService(const char* name);

// What ApplyPackageService may change, as it was before the installation,
// for its rollback: "NAME|0" when the service did not exist, else
// "NAME|1|TYPE|START|RESET|FLAG|COUNT|ACTION:DELAY,...|BINARYPATH". False
// when it does not fit.
bool FormatServiceBefore(const char* name, const ServiceSettings* before, char* out, size_t size);

// Puts that back: deletes a service the installation created, or restores
// type, start type, binary path and recovery of one it changed.
ServiceOutcome RestoreServiceBefore(const char* data);
