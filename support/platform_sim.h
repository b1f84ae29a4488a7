// Win32 names, types and constants that the host uses, for builds without
// Windows. support/sim/ implements them as a deterministic
// simulation; support/sim_control.h is how tests drive it.
#pragma once

#include <cstdint>

#define WINAPI
#define CALLBACK

typedef uint32_t DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef long LONG;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef DWORD* LPDWORD;
typedef unsigned int UINT;
typedef BYTE* LPBYTE;
typedef struct SimServiceHandle* SC_HANDLE;
typedef struct SimStatusHandle* SERVICE_STATUS_HANDLE;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x1
#define FILE_ATTRIBUTE_HIDDEN 0x2
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_SHARING_VIOLATION 32
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BAD_EXE_FORMAT 193
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063
#define ERROR_SERVICE_DOES_NOT_EXIST 1060
#define ERROR_SERVICE_SPECIFIC_ERROR 1066
#define ERROR_BUFFER_OVERFLOW 111
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_DIRECTORY 267
#define ERROR_MOD_NOT_FOUND 126

#define SERVICE_WIN32_OWN_PROCESS 0x10
#define SERVICE_INTERACTIVE_PROCESS 0x100
#define SERVICE_STOPPED 1
#define SERVICE_START_PENDING 2
#define SERVICE_STOP_PENDING 3
#define SERVICE_RUNNING 4
#define SERVICE_CONTROL_STOP 1
#define SERVICE_CONTROL_INTERROGATE 4
#define SERVICE_CONTROL_SHUTDOWN 5
#define SERVICE_ACCEPT_STOP 1
#define SERVICE_ACCEPT_SHUTDOWN 4
#define SERVICE_ACCEPT_PAUSE_CONTINUE 2
#define SERVICE_ACCEPT_PARAMCHANGE 8
#define SERVICE_ACCEPT_NETBINDCHANGE 0x10
#define ERROR_INVALID_SERVICE_CONTROL 1052
#define ERROR_SERVICE_CANNOT_ACCEPT_CTRL 1061
#define ERROR_SERVICE_NOT_IN_EXE 1083
#define SERVICE_QUERY_CONFIG 1
#define SERVICE_QUERY_STATUS 4
#define SC_MANAGER_CONNECT 1
#define SERVICE_CONFIG_FAILURE_ACTIONS 2
#define SERVICE_CONFIG_FAILURE_ACTIONS_FLAG 4
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1
#define FILE_SHARE_WRITE 2
#define OPEN_EXISTING 3
#define PROCESS_QUERY_INFORMATION 0x400
#define STILL_ACTIVE 259
#define EVENT_ALL_ACCESS 0x1F0003

typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

typedef struct _QUERY_SERVICE_CONFIGA {
    DWORD dwServiceType;
    DWORD dwStartType;
    DWORD dwErrorControl;
    LPSTR lpBinaryPathName;
    LPSTR lpLoadOrderGroup;
    DWORD dwTagId;
    LPSTR lpDependencies;
    LPSTR lpServiceStartName;
    LPSTR lpDisplayName;
} QUERY_SERVICE_CONFIGA, *LPQUERY_SERVICE_CONFIGA;

typedef enum _SC_ACTION_TYPE { SC_ACTION_NONE, SC_ACTION_RESTART, SC_ACTION_REBOOT, SC_ACTION_RUN_COMMAND } SC_ACTION_TYPE;

typedef struct _SC_ACTION {
    SC_ACTION_TYPE Type;
    DWORD Delay;
} SC_ACTION;

typedef struct _SERVICE_FAILURE_ACTIONSA {
    DWORD dwResetPeriod;
    LPSTR lpRebootMsg;
    LPSTR lpCommand;
    DWORD cActions;
    SC_ACTION* lpsaActions;
} SERVICE_FAILURE_ACTIONSA;

typedef struct _SERVICE_FAILURE_ACTIONS_FLAG {
    BOOL fFailureActionsOnNonCrashFailures;
} SERVICE_FAILURE_ACTIONS_FLAG;

typedef struct _SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME;

typedef void(WINAPI* LPSERVICE_MAIN_FUNCTIONA)(DWORD, LPSTR*);
typedef void(WINAPI* LPHANDLER_FUNCTION)(DWORD);

typedef struct _SERVICE_TABLE_ENTRYA {
    LPSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef struct _SRWLOCK {
    void* Ptr;
} SRWLOCK;
#define SRWLOCK_INIT {0}

// ---- Security: descriptors and their DACLs, accounts, the local
// Administrators group (support/sim/security.cpp).
typedef void* PSID;
typedef void* PSECURITY_DESCRIPTOR;
typedef void* HLOCAL;
typedef DWORD SECURITY_INFORMATION;
typedef DWORD ACCESS_MASK;
typedef DWORD NET_API_STATUS;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;
typedef uintptr_t* PDWORD_PTR;

typedef enum _SE_OBJECT_TYPE {
    SE_UNKNOWN_OBJECT_TYPE, SE_FILE_OBJECT, SE_SERVICE, SE_PRINTER, SE_REGISTRY_KEY, SE_LMSHARE, SE_KERNEL_OBJECT
} SE_OBJECT_TYPE;
typedef enum _SID_NAME_USE { SidTypeUser = 1, SidTypeGroup, SidTypeDomain, SidTypeAlias, SidTypeWellKnownGroup } SID_NAME_USE;
typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1 } TOKEN_INFORMATION_CLASS;

typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY;
typedef struct _SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
} SID;
typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;
typedef struct _ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
} ACE_HEADER;
typedef struct _ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
} ACCESS_ALLOWED_ACE;
typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER;
typedef struct _LOCALGROUP_MEMBERS_INFO_0 {
    PSID lgrmi0_sid;
} LOCALGROUP_MEMBERS_INFO_0;

#define OWNER_SECURITY_INFORMATION 0x1
#define DACL_SECURITY_INFORMATION 0x4
#define ACCESS_ALLOWED_ACE_TYPE 0
#define ACCESS_DENIED_ACE_TYPE 1
#define OBJECT_INHERIT_ACE 0x1
#define CONTAINER_INHERIT_ACE 0x2
#define NO_PROPAGATE_INHERIT_ACE 0x4
#define INHERIT_ONLY_ACE 0x8
#define INHERITED_ACE 0x10
#define DELETE 0x10000
#define READ_CONTROL 0x20000
#define WRITE_DAC 0x40000
#define WRITE_OWNER 0x80000
#define MAXIMUM_ALLOWED 0x2000000
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_WRITE_DATA 0x2
#define FILE_ADD_FILE 0x2
#define FILE_APPEND_DATA 0x4
#define FILE_ADD_SUBDIRECTORY 0x4
#define FILE_DELETE_CHILD 0x40
#define SERVICE_CHANGE_CONFIG 0x2
#define KEY_SET_VALUE 0x2
#define KEY_CREATE_SUB_KEY 0x4
#define EVENT_MODIFY_STATE 0x2
#define TOKEN_QUERY 0x8
#define SECURITY_MAX_SID_SIZE 68
#define ERROR_NO_MORE_FILES 18
#define ERROR_NONE_MAPPED 1332
#define NERR_Success 0
#define MAX_PREFERRED_LENGTH ((DWORD)-1)

extern "C" {
DWORD WINAPI GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                   PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
HLOCAL WINAPI LocalFree(HLOCAL memory);
BOOL WINAPI QueryServiceObjectSecurity(SC_HANDLE service, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor,
                                       DWORD size, LPDWORD needed);
BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, BOOL* defaulted);
BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL* present, PACL* dacl, BOOL* defaulted);
BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace);
BOOL WINAPI LookupAccountSidA(LPCSTR system, PSID sid, LPSTR name, LPDWORD nameSize, LPSTR domain,
                              LPDWORD domainSize, SID_NAME_USE* use);
BOOL WINAPI LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameSize, LPWSTR domain,
                              LPDWORD domainSize, SID_NAME_USE* use);
BOOL WINAPI LookupAccountNameA(LPCSTR system, LPCSTR name, PSID sid, LPDWORD sidSize, LPSTR domain,
                               LPDWORD domainSize, SID_NAME_USE* use);
NET_API_STATUS WINAPI NetLocalGroupGetMembers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                              DWORD preferredSize, LPDWORD read, LPDWORD total, PDWORD_PTR resume);
NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer);
HANDLE WINAPI GetCurrentProcess(void);
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID buffer, DWORD size, LPDWORD needed);
BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, BOOL* member);
// The folder's listing, for the DLLs beside the host.
BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
}  // extern "C"

// ---- Building descriptors and setting them on folders: the package's
// folder lock (support/sim/security.cpp).
typedef WORD SECURITY_DESCRIPTOR_CONTROL;
typedef unsigned long* PULONG;
// The absolute form; GetSecurityInfo's self-relative one begins alike.
typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
} SECURITY_DESCRIPTOR;
typedef enum {
    WinLocalSystemSid = 22, WinBuiltinAdministratorsSid = 26, WinBuiltinUsersSid = 27
} WELL_KNOWN_SID_TYPE;
typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID;
typedef struct _LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
} LUID_AND_ATTRIBUTES;
typedef struct _TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;
typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD dwVolumeSerialNumber, nFileSizeHigh, nFileSizeLow, nNumberOfLinks, nFileIndexHigh, nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION;

#define ACL_REVISION 2
#define SECURITY_DESCRIPTOR_REVISION 1
#define SDDL_REVISION_1 1
#define SE_DACL_PRESENT 0x4
#define SE_DACL_PROTECTED 0x1000
#define SE_SELF_RELATIVE 0x8000
#define PROTECTED_DACL_SECURITY_INFORMATION 0x80000000u
#define UNPROTECTED_DACL_SECURITY_INFORMATION 0x20000000u
#define FILE_ALL_ACCESS 0x1f01ff
#define FILE_GENERIC_READ 0x120089
#define FILE_GENERIC_EXECUTE 0x1200a0
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define TOKEN_ADJUST_PRIVILEGES 0x20
#define SE_PRIVILEGE_ENABLED 0x2
#define ERROR_NO_TOKEN 1008
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_INVALID_SID 1337
#define ERROR_INVALID_ACL 1336
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344

extern "C" {
BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size);
BOOL WINAPI EqualSid(PSID a, PSID b);
DWORD WINAPI GetLengthSid(PSID sid);
BOOL WINAPI CopySid(DWORD size, PSID to, PSID from);
BOOL WINAPI ConvertStringSidToSidW(LPCWSTR text, PSID* sid);
BOOL WINAPI InitializeAcl(PACL acl, DWORD size, DWORD revision);
BOOL WINAPI AddAccessAllowedAceEx(PACL acl, DWORD revision, DWORD flags, DWORD mask, PSID sid);
BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted);
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted);
BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                         SECURITY_DESCRIPTOR_CONTROL bits);
BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL* control,
                                         LPDWORD revision);
BOOL WINAPI ConvertSecurityDescriptorToStringSecurityDescriptorW(PSECURITY_DESCRIPTOR descriptor, DWORD revision,
                                                                 SECURITY_INFORMATION info, LPWSTR* text,
                                                                 PULONG length);
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor, PULONG size);
DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                   PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
DWORD WINAPI SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                             PACL dacl, PACL sacl);
HANDLE WINAPI GetCurrentThread(void);
BOOL WINAPI OpenThreadToken(HANDLE thread, DWORD access, BOOL self, HANDLE* token);
BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, LUID* luid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD size,
                                  PTOKEN_PRIVILEGES previous, LPDWORD needed);
DWORD WINAPI GetFileAttributesW(LPCWSTR path);
BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
BOOL WINAPI RemoveDirectoryW(LPCWSTR path);
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
}  // extern "C"
// The registry's system environment, the expansion of %NAME% references and
// drive types: where a service's program search differs from a user's.
typedef struct SimRegistryKey* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)
#define ERROR_NO_MORE_ITEMS 259
#define KEY_QUERY_VALUE 0x0001
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define ERROR_INVALID_NAME 123
#define ERROR_INVALID_ADDRESS 487
#define ERROR_MORE_DATA 234
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6
extern "C" {
LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG WINAPI RegCloseKey(HKEY key);
LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                          LPBYTE data, LPDWORD dataSize);
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR target, DWORD size);
UINT WINAPI GetDriveTypeA(LPCSTR root);
}

// C linkage, as Win32's own functions have.
extern "C" {

// Service control manager
BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table);
SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR name, LPHANDLER_FUNCTION handler);
BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);
SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access);
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access);
BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);
BOOL WINAPI QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed);
typedef struct _ENUM_SERVICE_STATUSA {
    LPSTR lpServiceName;
    LPSTR lpDisplayName;
    SERVICE_STATUS ServiceStatus;
} ENUM_SERVICE_STATUSA, *LPENUM_SERVICE_STATUSA;
#define SC_MANAGER_ENUMERATE_SERVICE 4
#define SERVICE_WIN32 0x30
#define SERVICE_STATE_ALL 3
BOOL WINAPI EnumServicesStatusA(SC_HANDLE manager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSA services,
                                DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resume);
BOOL WINAPI QueryServiceConfig2A(SC_HANDLE service, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);

// Processes and environment
void WINAPI GetStartupInfoA(LPSTARTUPINFOA info);
BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value);
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
LPSTR WINAPI lstrcatA(LPSTR target, LPCSTR text);
int WINAPI lstrcmpiA(LPCSTR first, LPCSTR second);
BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                           LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION info);
HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
void WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD code);

// Named events
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);
HANDLE WINAPI OpenEventA(DWORD access, BOOL inherit, LPCSTR name);
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI CloseHandle(HANDLE handle);

// Files and machine
DWORD WINAPI GetFileAttributesA(LPCSTR path);
BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size);
HANDLE WINAPI FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE search);
LONG WINAPI CompareFileTime(const FILETIME* first, const FILETIME* second);
BOOL WINAPI CopyFileA(LPCSTR source, LPCSTR target, BOOL failIfExists);
HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                          DWORD flags, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPVOID overlapped);
// Writing files: the log appends (FILE_APPEND_DATA without FILE_WRITE_DATA puts
// every write at the file's end); a position is set only to model other writers.
#define FILE_WRITE_DATA 0x2
#define FILE_APPEND_DATA 0x4
#define OPEN_ALWAYS 4
#define ERROR_ALREADY_EXISTS 183
#define FILE_BEGIN 0
#define FILE_END 2
typedef const void* LPCVOID;
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPVOID overlapped);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
// Byte-range locks: per handle, ended by the handle's close.
typedef struct _OVERLAPPED {
    uintptr_t Internal, InternalHigh;
    DWORD Offset, OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;
#define LOCKFILE_FAIL_IMMEDIATELY 0x1
#define LOCKFILE_EXCLUSIVE_LOCK 0x2
#define ERROR_LOCK_VIOLATION 33
BOOL WINAPI LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD lengthLow, DWORD lengthHigh, LPOVERLAPPED at);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
BOOL WINAPI FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out);

// The status record's lock
void WINAPI AcquireSRWLockExclusive(SRWLOCK* lock);
void WINAPI ReleaseSRWLockExclusive(SRWLOCK* lock);

}  // extern "C"

// ---- Service configuration: what the service manager stores for each
// service, as an installer creates, changes and deletes it
// (support/sim/service_config.cpp).

#ifndef SERVICE_START
#define SERVICE_START 0x10
#endif
#ifndef SC_MANAGER_CREATE_SERVICE
#define SC_MANAGER_CREATE_SERVICE 2
#endif
#ifndef ERROR_INVALID_DATA
#define ERROR_INVALID_DATA 13
#endif
#ifndef ERROR_INVALID_LEVEL
#define ERROR_INVALID_LEVEL 124
#endif
#ifndef ERROR_SERVICE_MARKED_FOR_DELETE
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072
#endif
#ifndef ERROR_SERVICE_EXISTS
#define ERROR_SERVICE_EXISTS 1073
#endif
#define SERVICE_NO_CHANGE 0xffffffffu
#define SERVICE_WIN32_SHARE_PROCESS 0x20
#define SERVICE_AUTO_START 2
#define SERVICE_DEMAND_START 3
#define SERVICE_DISABLED 4
#define SERVICE_ERROR_IGNORE 0
#define SERVICE_ERROR_NORMAL 1
#define SERVICE_ERROR_SEVERE 2
#define SERVICE_CONFIG_DESCRIPTION 1
#define SERVICE_CONFIG_DELAYED_AUTO_START_INFO 3
#define SERVICE_CONFIG_SERVICE_SID_INFO 5
#define SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO 6
#define SERVICE_CONFIG_PRESHUTDOWN_INFO 7
#define SERVICE_SID_TYPE_NONE 0
#define SERVICE_SID_TYPE_UNRESTRICTED 1
#define SERVICE_SID_TYPE_RESTRICTED 3

typedef struct _SERVICE_DESCRIPTIONA {
    LPSTR lpDescription;
} SERVICE_DESCRIPTIONA;

typedef struct _SERVICE_DELAYED_AUTO_START_INFO {
    BOOL fDelayedAutostart;
} SERVICE_DELAYED_AUTO_START_INFO;

typedef struct _SERVICE_PRESHUTDOWN_INFO {
    DWORD dwPreshutdownTimeout;
} SERVICE_PRESHUTDOWN_INFO;

typedef struct _SERVICE_REQUIRED_PRIVILEGES_INFOA {
    LPSTR pmszRequiredPrivileges;
} SERVICE_REQUIRED_PRIVILEGES_INFOA;

typedef struct _SERVICE_SID_INFO {
    DWORD dwServiceSidType;
} SERVICE_SID_INFO;

extern "C" {

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR displayName, DWORD access, DWORD type,
                                DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR loadOrderGroup,
                                LPDWORD tagId, LPCSTR dependencies, LPCSTR startName, LPCSTR password);
BOOL WINAPI DeleteService(SC_HANDLE service);
BOOL WINAPI ChangeServiceConfigA(SC_HANDLE service, DWORD type, DWORD startType, DWORD errorControl,
                                 LPCSTR binaryPath, LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                 LPCSTR startName, LPCSTR password, LPCSTR displayName);
BOOL WINAPI ChangeServiceConfig2A(SC_HANDLE service, DWORD level, LPVOID info);

}  // extern "C"

// The ANSI code page and conversions (support/sim/code_pages.cpp).
#define CP_ACP 0
#define CP_UTF8 65001
#define WC_NO_BEST_FIT_CHARS 0x400
#define WC_ERR_INVALID_CHARS 0x80
#define ERROR_INVALID_FLAGS 1004
#ifndef ERROR_INSUFFICIENT_BUFFER
#define ERROR_INSUFFICIENT_BUFFER 122
#endif
typedef BOOL* LPBOOL;
typedef wchar_t WCHAR;
typedef struct SimModule* HMODULE;
extern "C" {
UINT WINAPI GetACP();
DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out, int size,
                               LPCSTR defaultChar, LPBOOL usedDefault);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out, int size);
}  // extern "C"
