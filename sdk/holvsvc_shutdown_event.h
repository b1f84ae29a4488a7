/* holvsvc_shutdown_event.h: the name of the event HOLVSVC.EXE signals to ask
 * its worker to end, and the opening of that event, exactly as the host does
 * both. HOLVSVC.EXE is built from this very file. C89, C99 and C++; needs
 * only <windows.h>, user32 (for wsprintfA) and advapi32 (for the registry;
 * MinGW links it by default, and Microsoft C by the pragma below).
 *
 * The name is "HOLVSVCE_SHUTDOWN:<h>", where <h> is computed from the text of
 * the working directory as GetCurrentDirectoryA returns it. The worker
 * inherits the host's directory, so it finds the host's event by computing
 * the name before it changes directory. The text counts byte for byte:
 * C:\SVC gives HOLVSVCE_SHUTDOWN:1398569237, c:\svc HOLVSVCE_SHUTDOWN:1935431957.
 *
 *     HANDLE stop = HolvOpenShutdownEvent();
 *     while (WaitForSingleObject(stop, 1000) == WAIT_TIMEOUT)
 *         ...work...;
 *     return 0;     after the event, always 0
 */
#ifndef HOLVSVC_SHUTDOWN_EVENT_H
#define HOLVSVC_SHUTDOWN_EVENT_H

#include <windows.h>

#if defined(_MSC_VER)
#pragma comment(lib, "advapi32.lib")
#endif

/* The directory text is read into a zero-filled buffer of this size; a name
 * needs at most 18 + 10 characters and the terminator. */
#define HOLV_DIRECTORY_BUFFER_SIZE 260
#define HOLV_EVENT_NAME_SIZE 32

/* Any number of files of a program may include this header: its functions
 * are inline in C++, and each C file gets its own copy. */
#if defined(__cplusplus)
#define HOLV_EVENT_FUNCTION inline
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
#define HOLV_EVENT_FUNCTION static inline
#elif defined(_MSC_VER)
#define HOLV_EVENT_FUNCTION static __inline
#elif defined(__GNUC__)
#define HOLV_EVENT_FUNCTION static __inline__
#else
#define HOLV_EVENT_FUNCTION static
#endif

/* XOR of the little-endian 32-bit words that cover `length` bytes of
 * `directory`, a zero-filled buffer of HOLV_DIRECTORY_BUFFER_SIZE bytes: the
 * first (length + 3) / 4 words, the last one padded with the zeros of the
 * fill. A length past the buffer (GetCurrentDirectoryA reports the size it
 * would need) hashes the whole buffer and no further. */
HOLV_EVENT_FUNCTION DWORD HolvDirectoryHash(const char* directory, DWORD length)
{
    DWORD words = length / 4 + (length % 4 != 0);
    DWORD hash = 0;
    DWORD i;
    if (words > HOLV_DIRECTORY_BUFFER_SIZE / 4)
        words = HOLV_DIRECTORY_BUFFER_SIZE / 4;
    for (i = 0; i < words; i++) {
        const unsigned char* b = (const unsigned char*)directory + 4 * i;
        hash ^= (DWORD)b[0] | ((DWORD)b[1] << 8) | ((DWORD)b[2] << 16) | ((DWORD)b[3] << 24);
    }
    return hash;
}

/* The event's name for a directory text, spelled exactly as
 * GetCurrentDirectoryA would give it ("C:\SVC", no trailing backslash except
 * at a drive's root), into `name` (HOLV_EVENT_NAME_SIZE bytes). A text of 260
 * characters or more does not fit the buffer, which stays zero: the name ends
 * in :0, as it would for the host. */
HOLV_EVENT_FUNCTION void HolvShutdownEventNameOf(const char* directoryText, char* name)
{
    char directory[HOLV_DIRECTORY_BUFFER_SIZE] = {0};
    DWORD length = 0;
    DWORD i;
    while (directoryText[length] && length < HOLV_DIRECTORY_BUFFER_SIZE)
        length++;
    if (length < HOLV_DIRECTORY_BUFFER_SIZE)
        for (i = 0; i < length; i++)
            directory[i] = directoryText[i];
    wsprintfA(name, "HOLVSVCE_SHUTDOWN:%u", (unsigned)HolvDirectoryHash(directory, length));
}

/* The system's ANSI code page, in which the host (built without a code page
 * manifest) reads its directory: the value ACP of
 * HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage. 0 when unknown. */
HOLV_EVENT_FUNCTION UINT HolvSystemCodePage(void)
{
    HKEY key;
    char text[16] = {0};
    DWORD size = sizeof text - 1, type = 0;
    UINT page = 0;
    int i;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return 0;
    if (RegQueryValueExA(key, "ACP", NULL, &type, (LPBYTE)text, &size) != ERROR_SUCCESS || type != REG_SZ)
        text[0] = 0;
    RegCloseKey(key);
    for (i = 0; text[i] >= '0' && text[i] <= '9' && i < 6; i++)
        page = page * 10 + (UINT)(text[i] - '0');
    return page;
}

/* The event's name for the current directory, into `name`
 * (HOLV_EVENT_NAME_SIZE bytes). A directory that cannot be read gives
 * HOLVSVCE_SHUTDOWN:0.
 * A worker built with the UTF-8 code page manifest reads its directory in
 * UTF-8, where the host reads it in the system's ANSI code page: it then
 * takes the directory's UTF-16 text into the system's code page, as the
 * host's GetCurrentDirectoryA does. */
HOLV_EVENT_FUNCTION void HolvShutdownEventName(char* name)
{
    char directory[HOLV_DIRECTORY_BUFFER_SIZE] = {0};
    DWORD length;
    UINT system = GetACP() == CP_UTF8 ? HolvSystemCodePage() : 0;
    if (system && system != CP_UTF8) {
        WCHAR wide[HOLV_DIRECTORY_BUFFER_SIZE];
        DWORD n = GetCurrentDirectoryW(HOLV_DIRECTORY_BUFFER_SIZE, wide);
        int bytes = n && n < HOLV_DIRECTORY_BUFFER_SIZE
                        ? WideCharToMultiByte(system, 0, wide, (int)n, NULL, 0, NULL, NULL)
                        : (int)n;
        /* Too long: the size it would need, and no text, as the A call. */
        length = bytes >= HOLV_DIRECTORY_BUFFER_SIZE ? (DWORD)bytes + 1 : (DWORD)bytes;
        if (bytes > 0 && bytes < HOLV_DIRECTORY_BUFFER_SIZE)
            WideCharToMultiByte(system, 0, wide, (int)n, directory, HOLV_DIRECTORY_BUFFER_SIZE, NULL, NULL);
    } else {
        length = GetCurrentDirectoryA(HOLV_DIRECTORY_BUFFER_SIZE, directory);
    }
    wsprintfA(name, "HOLVSVCE_SHUTDOWN:%u", (unsigned)HolvDirectoryHash(directory, length));
}

/* Opens the current directory's event with all access (0x1F0003), or, when
 * there is none, creates it: manual reset, not signalled, default security.
 * Returns NULL when both fail. An event that exists is used in whatever state
 * it is: once signalled, it stays signalled while any process holds it. A
 * worker running under another account than the host's may be refused all
 * access; it can open the name with SYNCHRONIZE alone, which is all a wait
 * needs. */
HOLV_EVENT_FUNCTION HANDLE HolvOpenShutdownEvent(void)
{
    char name[HOLV_EVENT_NAME_SIZE];
    HANDLE event;
    HolvShutdownEventName(name);
    event = OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
    if (event)
        return event;
    return CreateEventA(NULL, TRUE, FALSE, name);
}

#endif
