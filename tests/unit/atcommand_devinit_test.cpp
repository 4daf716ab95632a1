// The line-setting search, one attempt per expiry. Finding the adapter and
// reading it afterwards run end to end (the search that finds it at 2400).
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
    engineTimerExpired(window.hwnd(), DevInitTimer);
    EXPECT_EQ(boxes.count(), 1u);
    EXPECT_EQ(bIndex * 100 + bTry, 1000) << "the next search starts over";

    // A setting the port refuses is shown, and the attempt still sends. An
    // ERROR answer is tried again at the same setting; silence moves on.
    changeResult = 1;
    EXPECT_EQ(tryIterations("AT\r", 1), 1);
    EXPECT_EQ(boxes.count(), 2u);
    feed("AT\r\r\nERROR\r\n");
    for (int expiry = 0; expiry < 2; ++expiry)
        engineTimerExpired(window.hwnd(), DevInitTimer);
    EXPECT_EQ(written, std::vector<std::string>(123, "AT\r"));
    EXPECT_EQ(settingsApplied.size(), 122u);
}
