// The log writer: one record per open, one appending write, close.
#include "log.h"

#include "platform.h"

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

// The Windows runtime appends by seeking to the end and then writing, so two
// threads appending at once could land on the same offset; one at a time.
static SRWLOCK LogLock = SRWLOCK_INIT;

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

    AcquireSRWLockExclusive(&LogLock);
    FILE* file = fopen("HOLV32.LOG", "ab");
    if (!file) {
        ReleaseSRWLockExclusive(&LogLock);
        return;
    }
    // Unbuffered, so the whole record reaches the file in one appending write
    // and records of the two threads cannot interleave.
    setvbuf(file, NULL, _IONBF, 0);

    struct tm local = {};
#ifdef _WIN32
    struct tm* t = localtime(&now); // the Windows runtime keeps this per thread
    if (t)
        local = *t;
#else
    localtime_r(&now, &local);
#endif
    char record[2 + LogStampSize + LogMessageSize];
    size_t length = FormatLogRecord(record, sizeof record, &local, message);
    fwrite(record, 1, length, file);
    fclose(file);
    ReleaseSRWLockExclusive(&LogLock);
}
