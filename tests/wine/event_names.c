/* event_names.c: for each folder on the command line, enters it and prints
 * the current directory's text in hex, then the shutdown event's name as the
 * worker authors' header computes it from the current directory and from that
 * text. Built as C and as C++, for the Wine scenario worker_sdk.sh. */
#include "holvsvc_shutdown_event.h"

#include <stdio.h>

int main(int argc, char** argv)
{
    int i;
    for (i = 1; i < argc; i++) {
        char text[HOLV_DIRECTORY_BUFFER_SIZE] = {0};
        char byDirectory[HOLV_EVENT_NAME_SIZE], byText[HOLV_EVENT_NAME_SIZE];
        DWORD length, k;
        if (!SetCurrentDirectoryA(argv[i])) {
            printf("cannot enter, error %lu\n", (unsigned long)GetLastError());
            continue;
        }
        length = GetCurrentDirectoryA(sizeof text, text);
        HolvShutdownEventName(byDirectory);
        HolvShutdownEventNameOf(text, byText);
        for (k = 0; k < length && k < sizeof text; k++)
            printf("%02x", (unsigned char)text[k]);
        printf(" %s %s\n", byDirectory, byText);
    }
    return 0;
}
