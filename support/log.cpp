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

// Opened for appending only: the system then writes each record at the end of
// the file in one step. The runtime's append mode seeks to the end and then
// writes, so two processes writing one log (services installed from one
// folder) could both write at the same place, and one record would overwrite
// the other; no lock inside a process helps there.
HANDLE OpenLogFile(DWORD disposition)
{
    return CreateFileA("HOLV32.LOG", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, disposition,
                       FILE_ATTRIBUTE_NORMAL, NULL);
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
        WriteFile(file, record, length, &written, NULL);
        CloseHandle(file);
    }
    SetLastError(error);
}
