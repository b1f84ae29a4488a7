// The log record's bytes and the shutdown event's name.
#include "sim_fixture.h"

#include "service/event_name.h"
#include "service/shutdown_event.h"
#include "support/log.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

namespace {

std::string Record(const struct tm& when, const std::string& message)
{
    char out[2 + LogStampSize + LogMessageSize];
    size_t n = FormatLogRecord(out, sizeof out, &when, message.c_str());
    return std::string(out, n);
}

struct tm At(int day, int month, int hour, int minute, int second)
{
    struct tm t = {};
    t.tm_mday = day;
    t.tm_mon = month - 1;
    t.tm_year = 126;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

}  // namespace

TEST(LogRecord, BytesAreLineEndStampMessage)
{
    struct Case {
        struct tm when;
        const char* message;
        const char* bytes;
    } cases[] = {
        {At(7, 3, 9, 5, 3), "Service stopped", "\r\n07/03 09:05:03 Service stopped"},
        {At(31, 12, 23, 59, 59), "x", "\r\n31/12 23:59:59 x"},
        {At(1, 1, 0, 0, 0), "", "\r\n01/01 00:00:00 "},
        // 24-hour form in the afternoon, whatever the locale's own would be.
        {At(15, 8, 13, 7, 0), "Service exited", "\r\n15/08 13:07:00 Service exited"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Record(c.when, c.message), c.bytes);
}

TEST_F(HostTest, LogFileBeginsWithALineEndAndEndsWithoutOne)
{
    LogMessage("first %d", 1);
    LogMessage("second %s", "two");
    std::string bytes = LogBytes();
    ASSERT_EQ(bytes.size(), 2 * (2 + 15) + strlen("first 1") + strlen("second two"));
    EXPECT_EQ(bytes.substr(0, 2), "\r\n");
    EXPECT_EQ(bytes.back(), 'o');
    EXPECT_EQ(LogMessages(), (std::vector<std::string>{"first 1", "second two"}));
}

TEST_F(HostTest, LongMessagesAreCutAt255Characters)
{
    std::string path(253, 'p');
    LogMessage("%s not started! error=%d", path.c_str(), 2);
    std::vector<std::string> messages = LogMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].size(), 255u);
    EXPECT_EQ(messages[0], (path + " not started! error=2").substr(0, 255));
}

TEST_F(HostTest, RecordsOfTwoThreadsNeverInterleave)
{
    const int perThread = 400;
    auto writer = [](char letter) {
        std::string text(200, letter);
        for (int i = 0; i < perThread; i++)
            LogMessage("%s", text.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::vector<std::string> messages = LogMessages();
    ASSERT_EQ(messages.size(), 2u * perThread);
    for (const std::string& m : messages)
        EXPECT_TRUE(m == std::string(200, 'a') || m == std::string(200, 'b')) << m;
}

// Two processes writing one log at the same moment: the other one's record
// lands while this one is between opening the log and writing to it.
// Appending keeps both; the runtime's seek-then-write writes over the other's.
TEST_F(HostTest, TwoProcessesWritingTheLogAtOnceKeepEveryRecord)
{
    auto seekThenWrite = [](const char* message) {
        HANDLE file = CreateFileA("HOLV32.LOG", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        SetFilePointer(file, 0, NULL, FILE_END);
        struct tm when = {};
        char record[2 + LogStampSize + LogMessageSize];
        DWORD written, length = (DWORD)FormatLogRecord(record, sizeof record, &when, message);
        ::WriteFile(file, record, length, &written, NULL);
        CloseHandle(file);
    };
    auto host = [](const char* message) { LogMessage("%s", message); };
    struct Case {
        const char* writer;
        std::function<void(const char*)> write;
        std::vector<std::string> kept;
    } cases[] = {
        {"the host's", host, {"earlier", "process B", "process A"}},
        {"seek then write", seekThenWrite, {"earlier", "process A"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writer);
        std::remove("HOLV32.LOG");
        sim::Reset();
        c.write("earlier");
        sim::script().otherProcessWrites = [&] { c.write("process B"); };
        c.write("process A");
        EXPECT_EQ(LogMessages(), c.kept);
        EXPECT_TRUE(sim::script().otherProcessWrites == nullptr) << "the other process wrote";
    }
}

// Four hosts' threads logging at once, on Windows' atomic append and on
// Wine's size-then-write: every record arrives whole. A writer that takes no
// lock loses records under Wine; one that finds the lock held past its tries
// still writes; a reader holding the lock costs each record the bounded wait.
TEST_F(HostTest, ManyWritersAtOnceKeepEveryRecordWhole)
{
    auto unlocked = [](const char* message) {
        HANDLE file = OpenLogFile(OPEN_ALWAYS);
        struct tm when = {};
        char record[2 + LogStampSize + LogMessageSize];
        DWORD written, length = (DWORD)FormatLogRecord(record, sizeof record, &when, message);
        ::WriteFile(file, record, length, &written, NULL);
        CloseHandle(file);
    };
    auto host = [](const char* message) { LogMessage("%s", message); };
    struct Case {
        const char* writer;
        bool wine, readerHoldsLock;
        std::function<void(const char*)> write;
        bool allKept;
    } cases[] = {
        {"host, Windows", false, false, host, true},
        {"host, Wine", true, false, host, true},
        {"no lock, Windows", false, false, unlocked, true},
        {"no lock, Wine", true, false, unlocked, false},
        {"host, Windows, a reader holds the lock", false, true, host, true},
    };
    const int writers = 4, records = 150;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writer);
        std::remove("HOLV32.LOG");
        sim::Reset();
        sim::script().appendLikeWine = c.wine;
        HANDLE reader = CreateFileA("HOLV32.LOG", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        OVERLAPPED at = {};
        if (c.readerHoldsLock)
            ASSERT_TRUE(LockLogFile(reader, &at));
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; w++)
            threads.emplace_back([&, w] {
                for (int i = 0; i < (c.readerHoldsLock ? 3 : records); i++)
                    c.write(("writer " + std::to_string(w) + " record " + std::to_string(i)).c_str());
            });
        for (std::thread& t : threads)
            t.join();
        CloseHandle(reader);
        std::vector<std::string> kept = LogMessages();
        size_t expected = c.readerHoldsLock ? writers * 3 : writers * records;
        EXPECT_EQ(kept.size() == expected, c.allKept) << kept.size() << " of " << expected;
        for (const std::string& m : kept)
            EXPECT_EQ(m.rfind("writer ", 0), 0u) << "torn: " << m;
        if (c.readerHoldsLock)  // each record waited out its tries, no more
            EXPECT_EQ(sim::now(), (uint64_t)expected * LogLockTries);
    }
}

TEST_F(HostTest, ShutdownEventNameHashesTheDirectoryText)
{
    struct Case {
        std::string directory;
        std::string name;
    } cases[] = {
        {"C:\\", "HOLVSVCE_SHUTDOWN:6044227"},
        {"C:\\SVC", "HOLVSVCE_SHUTDOWN:1398569237"},
        {"", "HOLVSVCE_SHUTDOWN:0"},
        // 4k characters hash k words: "ABCD" is the word 0x44434241.
        {"ABCD", "HOLVSVCE_SHUTDOWN:1145258561"},
        {"ABCDABCD", "HOLVSVCE_SHUTDOWN:0"},
        // 4k+1 hashes k+1 words, the last padded with zeros.
        {"ABCDE", "HOLVSVCE_SHUTDOWN:1145258500"},
        // Case and a trailing separator make another name.
        {"c:\\svc", sim::EventNameFor("c:\\svc")},
        {"C:\\SVC\\", sim::EventNameFor("C:\\SVC\\")},
        {std::string(259, 'x'), sim::EventNameFor(std::string(259, 'x'))},
        // Bytes from 0x80 are unsigned: C:\Dienste\M\xFCller in code page 1252,
        // then in UTF-8, then a word of high bytes alone.
        {"C:\\Dienste\\M\xFCller", "HOLVSVCE_SHUTDOWN:520246992"},
        {"C:\\Dienste\\M\xC3\xBCller", "HOLVSVCE_SHUTDOWN:369292536"},
        {"\xFF\xFE\x80\x81", "HOLVSVCE_SHUTDOWN:2172714751"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory);
        sim::script().scriptedDirectory = true;
        sim::script().directoryText = c.directory;
        char name[EventNameSize];
        ShutdownEventName(name);
        EXPECT_EQ(std::string(name), c.name);
    }
    EXPECT_NE(sim::EventNameFor("c:\\svc"), sim::EventNameFor("C:\\SVC"));

    // A worker built with the UTF-8 code page manifest (its own code page
    // 65001) finds the name the host computes from the system's code page.
    struct Worker {
        UINT system, process;
        std::string folder;  // in the system's code page
    } workers[] = {
        {1252, 65001, "C:\\SVC"},
        {1252, 65001, "C:\\Dienste\\M\xFCller"},
        {1252, 0, "C:\\Dienste\\M\xFCller"},
        {65001, 65001, "C:\\Dienste\\M\xC3\xBCller"},
        // 259 bytes in 1252, 260 in UTF-8: the host hashes it, an A call under UTF-8 could not.
        {1252, 65001, std::string(258, 'x') + "\xFC"},
    };
    for (const Worker& w : workers) {
        SCOPED_TRACE(std::to_string(w.process) + " " + w.folder);
        sim::script().ansiCodePage = w.system;
        sim::script().processCodePage = w.process;
        sim::script().directoryText = w.folder;
        char name[EventNameSize];
        ShutdownEventName(name);
        EXPECT_EQ(std::string(name), sim::EventNameFor(w.folder));
    }
}

TEST_F(HostTest, ShutdownEventNameNeverReadsPastItsBuffer)
{
    // The platform reports the size it would need and writes nothing: the
    // hash covers the zero-filled buffer and stops at its end.
    sim::script().scriptedDirectory = true;
    sim::script().directoryText = std::string(400, 'y');
    char name[EventNameSize];
    ShutdownEventName(name);
    EXPECT_STREQ(name, "HOLVSVCE_SHUTDOWN:0");

    char full[DirectoryBufferSize];
    memset(full, 'z', sizeof full);
    EXPECT_EQ(DirectoryHash(full, 100000), DirectoryHash(full, DirectoryBufferSize));
    EXPECT_EQ(DirectoryHash(full, 0), 0u);

    sim::script().failDirectory = ERROR_ACCESS_DENIED;
    ShutdownEventName(name);
    EXPECT_STREQ(name, "HOLVSVCE_SHUTDOWN:0");
}

TEST_F(HostTest, OpenShutdownEventOpensBeforeItCreates)
{
    std::string name = sim::EventNameFor(dir);
    HANDLE created = OpenShutdownEvent();
    ASSERT_NE(created, nullptr);
    std::vector<std::string> names = sim::callNames();
    EXPECT_EQ(names, (std::vector<std::string>{"GetCurrentDirectoryA", "wsprintfA", "OpenEventA", "CreateEventA"}));
    EXPECT_EQ(sim::calls()[2].args, "0x1f0003,0,\"" + name + "\"");
    EXPECT_EQ(sim::calls()[3].args, "null,1,0,\"" + name + "\"");
    EXPECT_FALSE(sim::events().at(name).signaled);

    // A second service in the same directory shares it.
    HANDLE opened = OpenShutdownEvent();
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(sim::callNames().back(), "OpenEventA");
    EXPECT_EQ(sim::events().at(name).handles, 2);
}
