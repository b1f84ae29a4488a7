// HOLV32.LOG, the host's only output.
#pragma once

#include "platform.h"

#include <stddef.h>
#include <time.h>

#if defined(__GNUC__)
#define LOG_FORMAT_CHECK __attribute__((format(printf, 1, 2)))
#else
#define LOG_FORMAT_CHECK
#endif

enum { LogMessageSize = 256, LogStampSize = 32 };

// Appends one record: CR LF, "dd/mm HH:MM:SS ", the message (cut at 255
// characters). A log that cannot be opened costs the message, nothing else.
void LogMessage(const char* format, ...) LOG_FORMAT_CHECK;

// When set, each formatted message goes here instead of HOLV32.LOG: a check
// of a folder sees what the host would log without writing the log.
typedef void (*LogSinkFunction)(const char* message);
extern LogSinkFunction LogSink;

// The bytes of one record for the given local time; returns their count.
size_t FormatLogRecord(char* out, size_t size, const struct tm* when, const char* message);

// HOLV32.LOG opened as the host writes it: appending only, shared for reading
// and writing. OPEN_ALWAYS creates a missing log; OPEN_EXISTING only tries it.
HANDLE OpenLogFile(DWORD disposition);

// The byte every writer of the log locks while it writes (offset
// LogLockOffsetHigh << 32), and how many 1 ms tries it makes for it.
enum { LogLockOffsetHigh = 0x7FFFFFFF, LogLockTries = 100 };
// Tries for the writers' lock on an open log; false when the tries ran out.
bool LockLogFile(HANDLE file, OVERLAPPED* at);
