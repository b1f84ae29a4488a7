// The log writer: one record per open, one appending write, close.
#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

size_t FormatLogRecord(char* out, size_t size, const struct tm* when, const char* message)
{
    // The stamp is spelled out rather than "%X" so no locale changes its form.
    char stamp[LogStampSize];
    if (!strftime(stamp, sizeof stamp, "%d/%m %H:%M:%S ", when))
        stamp[0] = 0;
    int n = snprintf(out, size, "\r\n%s%s", stamp, message);
    if (n < 0)
        return 0;
    return (size_t)n < size ? (size_t)n : size - 1;
}

LogSinkFunction LogSink;

// Opened for appending only: Windows then writes each record at the end of
// the file in one step, whoever else writes it. The runtime's append mode
// seeks to the end and then writes, so two processes writing one log
// (services installed from one folder) could both write at the same place.
// Reading is asked for only because a byte-range lock needs it; it adds no
// right to write anywhere but the end.
// Evidence: MS docs "File Security and Access Rights" (FILE_APPEND_DATA without
// FILE_WRITE_DATA does not overwrite); MS docs LockFileEx (GENERIC_READ or GENERIC_WRITE).
HANDLE OpenLogFile(DWORD disposition)
{
    return CreateFileA("HOLV32.LOG", GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

// Wine's append asks the size, then writes there: two writers at one moment
// write at one offset and the later record covers the earlier. Every writer
// therefore holds one byte far past any real end of the log while it writes;
// no reader of the log ever reads there. Anyone who may read the log can hold
// it too, so the wait is bounded: past LogLockTries the record is written
// without it (whole on Windows, which appends atomically anyway).
// Evidence: MS docs LockFileEx (a lock beyond the end of the file is allowed;
// LOCKFILE_FAIL_IMMEDIATELY; locks are per handle and end at its close);
// Wine dlls/kernel32/tests/file.c test_LockFile (locks past the end, a second
// handle's conflicting lock fails with ERROR_LOCK_VIOLATION).
bool LockLogFile(HANDLE file, OVERLAPPED* at)
{
    at->Offset = 0;
    at->OffsetHigh = LogLockOffsetHigh;
    for (int i = 0; i < LogLockTries; i++) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, at))
            return true;
        Sleep(1);
    }
    return false;
}

void LogMessage(const char* format, ...)
{
    char message[LogMessageSize];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0)
        message[0] = 0;
    if (LogSink) {
        LogSink(message);
        return;
    }

    time_t now = time(NULL);
    // The caller's last error outlives its message.
    DWORD error = GetLastError();
    HANDLE file = OpenLogFile(OPEN_ALWAYS);
    if (file != INVALID_HANDLE_VALUE) {
        struct tm local = {};
#ifdef _WIN32
        struct tm* t = localtime(&now); // the Windows runtime keeps this per thread
        if (t)
            local = *t;
#else
        localtime_r(&now, &local);
#endif
        char record[2 + LogStampSize + LogMessageSize];
        DWORD length = (DWORD)FormatLogRecord(record, sizeof record, &local, message);
        DWORD written;
        OVERLAPPED at = {};
        LockLogFile(file, &at);
        WriteFile(file, record, length, &written, NULL);
        CloseHandle(file); // ends the lock
    }
    SetLastError(error);
}
