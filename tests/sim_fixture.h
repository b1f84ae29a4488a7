// A fresh directory, a fresh simulated platform and the host's process-wide
// records as at process start, for each test.
#pragma once

#include "support/sim_control.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Another run in the same directory: fresh platform and records, no log.
    void StartOver();

    // Runs the process entry as the service manager would start it.
    int RunHost();
    int RunHostAs(const std::string& argv0);

    // The log's messages, without their line ends and time stamps.
    std::vector<std::string> LogMessages() const;
    std::string LogBytes() const;

    void WriteFile(const std::string& name, const std::string& bytes) const;
    std::string ReadFile(const std::string& name) const;

    // The states of the status reports, in order.
    std::vector<DWORD> ReportedStates() const;

    std::string dir;  // the test's directory, which holds HOLVSVC.EXE
    std::string oldDir;
};

// The host's process-wide records back to their values at process start.
void ResetHostRecords();
