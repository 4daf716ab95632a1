// The line-setting search. Finding the adapter, ERROR answers and reading
// it afterwards run on the line with real timers (it_engine).
#include "atcommand_fixture.h"

using DeviceInit = EngineTest;

TEST_F(DeviceInit, SearchWalksAll120SettingsThenGivesUpAndStartsOver)
{
    device.isDeviceInitialised = 0;
    for (int attempt = 0; attempt < 120; ++attempt)
        ASSERT_EQ(tryIterations("AT\r", 1), 1);
    // Phases in order (parity, stop bits, flow), each through the baud codes 10..19.
    // clang-format off
    const std::array<int, 3> phases[12] = {
        {PARITY_NONE, 1, 1}, {PARITY_NONE, 1, 0}, {PARITY_ODD, 1, 1}, {PARITY_ODD, 1, 0},
        {PARITY_EVEN, 1, 1}, {PARITY_EVEN, 1, 0}, {PARITY_NONE, 2, 1}, {PARITY_NONE, 2, 0},
        {PARITY_ODD, 2, 1},  {PARITY_ODD, 2, 0},  {PARITY_EVEN, 2, 1}, {PARITY_EVEN, 2, 0}};
    // clang-format on
    const int rates[10] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 19200};
    std::vector<LineSetting> expected;
    for (const auto& phase : phases)
        for (int rate : rates)
            expected.push_back({rate, phase[0], phase[1], phase[2]});
    EXPECT_EQ(settingsApplied, expected);
    EXPECT_EQ(written, std::vector<std::string>(120, "AT\r"));
    EXPECT_EQ(timersArmed, Timers(120, {DevInitTimer, 1000}));
    // The operator sees each attempt as it is made, not once the search is over.
    EXPECT_EQ(window.logLines.size(), 120u);

    // The next expiry with nothing received: the operator is told, nothing is sent.
    pend("AT\r", 0, 1);
    devInitTimerStep();
    EXPECT_EQ(boxes.count(), 1u);
    EXPECT_EQ(written.size(), 120u);
    EXPECT_EQ(timersArmed.size(), 120u);
    EXPECT_EQ(bIndex * 100 + bTry, 1000) << "the next search starts over";

    // A setting the port refuses is shown, and the attempt still sends.
    changeResult = 1;
    EXPECT_EQ(tryIterations("AT\r", 1), 1);
    EXPECT_EQ(boxes.count(), 2u);
    EXPECT_EQ(written.size(), 121u);
}
