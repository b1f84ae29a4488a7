// SETACCT.EXE NAME ACCOUNT: gives a service another logon account, one
// without a password, through ChangeServiceConfigA, as
// `sc config NAME obj= ACCOUNT` does on Windows; Wine's sc config always
// fails. For the Wine scenarios. Exit code 0, or 1 with the error.
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: SETACCT NAME ACCOUNT\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, argv[1], SERVICE_CHANGE_CONFIG) : NULL;
    BOOL ok = service && ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, NULL,
                                              NULL, NULL, NULL, argv[2], "", NULL);
    if (!ok)
        printf("SETACCT %s %s: error %lu\n", argv[1], argv[2], GetLastError());
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return ok ? 0 : 1;
}
