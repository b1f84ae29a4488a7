// The service's life on the simulated platform: status reports, the worker's
// start and stop, the log, and every failure on the way.
#include "sim_fixture.h"

#include "service/service.h"

using Lines = std::vector<std::string>;

TEST_F(HostTest, NormalStartAndStop)
{
    sim::script().controls = {{5000, SERVICE_CONTROL_STOP}};
    EXPECT_EQ(RunHost(), 0);
    EXPECT_EQ(LogMessages(), (Lines{"Starting service QuenraService",
                                    "Service starting HOLV32IP.EXE using inifile HOLV32.INI",
                                    "Service stop request received", "Service stopped"}));
    EXPECT_EQ(ReportedStates(), (std::vector<DWORD>{2, 4, 4, 4, 4, 4, 3, 3, 1}));
}
