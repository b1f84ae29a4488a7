// HOLVCHK.EXE NAME [DIRECTORY]: tells what HOLVSVC.EXE will do when started
// as NAME in DIRECTORY, and changes nothing there.
#include "check.h"

#include <stdio.h>

int main(int argc, char** argv)
{
    int status = argc == 2 || argc == 3 ? CheckFolder(argv[1], argc == 3 ? argv[2] : NULL)
                                        : UsageReport("a service name is needed, and at most one folder");
    fputs(CheckOutput, stdout);
    return status;
}
