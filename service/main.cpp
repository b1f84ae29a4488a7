// HOLVSVC.EXE's entry point.
#include "service.h"

int main(int argc, char** argv)
{
    return HostMain(argc, argv);
}
