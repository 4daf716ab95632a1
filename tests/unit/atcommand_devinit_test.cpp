// The line-setting search and the steps of bringing the adapter up.
#include "atcommand_fixture.h"
#include "app/notify.h"
#include "trace_capture.h"

namespace {
bool controlsEnabled = false;
}

class DeviceInit : public EngineTest {};

TEST_F(DeviceInit, SearchWalksAll120SettingsThenStartsOver)
{
    for (int attempt = 0; attempt < 120; ++attempt)
        ASSERT_EQ(tryIterations("AT\r", 1), 1);
    // Phases in order (parity, stop bits, flow), each through the baud codes 10..19.
    const LineSetting phases[12] = {
        {0, PARITY_NONE, 1, 1}, {0, PARITY_NONE, 1, 0}, {0, PARITY_ODD, 1, 1}, {0, PARITY_ODD, 1, 0},
        {0, PARITY_EVEN, 1, 1}, {0, PARITY_EVEN, 1, 0}, {0, PARITY_NONE, 2, 1}, {0, PARITY_NONE, 2, 0},
        {0, PARITY_ODD, 2, 1},  {0, PARITY_ODD, 2, 0},  {0, PARITY_EVEN, 2, 1}, {0, PARITY_EVEN, 2, 0}};
    const int rates[10] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 19200};
    std::vector<LineSetting> expected;
    for (const LineSetting& phase : phases)
        for (int rate : rates)
            expected.push_back({rate, phase.parity, phase.stopBits, phase.flow});
    EXPECT_EQ(settingsApplied, expected);
    EXPECT_EQ(writes(), std::vector<std::string>(120, "AT\r"));
    EXPECT_EQ(timersArmed.back().first, static_cast<UINT_PTR>(DevInitTimer));

    TraceCapture trace;
    EXPECT_EQ(tryIterations("AT\r", 1), 0);
    EXPECT_EQ(bIndex * 100 + bTry, 1000);
    EXPECT_EQ(settingsApplied.size(), 120u) << "nothing applied once exhausted";
    EXPECT_TRUE(trace.contains("ATCOMMAND: Tried all combinations. Device didnot initialise"));

    // A setting the port refuses is shown, and the attempt still sends.
    changeResult = 1;
    pairing.pairState = 6;  // unbonding probes quietly
    bIndex = 13;
    bTry = 9;
    EXPECT_EQ(tryIterations("AT+BOND-\r", 0), 1);
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"Failed to set UART settings baud 9600 parity 512 stopbits 2 flow 0"});
    EXPECT_EQ(writes().back(), "AT+BOND-\r");
}

TEST_F(DeviceInit, TimerStepActsOnWhatArrived)
{
    // Nothing: the next setting.
    bIndex = 12;
    bTry = 3;
    pend("AT\r", 0, 1);
    devInitTimerStep();
    EXPECT_EQ(settingsApplied, (std::vector<LineSetting>{{4800, PARITY_ODD, 1, 0}}));
    EXPECT_EQ(writes(), std::vector<std::string>{"AT\r"});

    // ERROR: the same setting again, as long as ERROR comes.
    for (int round = 0; round < 2; ++round) {
        feed("AT\r\r\nERROR\r\n");
        devInitTimerStep();
        EXPECT_EQ(device.initRetry, 0) << "acted on";
    }
    EXPECT_EQ(settingsApplied.size(), 1u);
    EXPECT_EQ(writes().size(), 3u);
    EXPECT_EQ(atCommand.timerMode, 1u) << "sent timer-sent again";
    EXPECT_EQ(timersArmed.size(), 3u);

    // OK: read every setting in list order, then enable the panel.
    enableDeviceControlsHook = [](bool enable) { controlsEnabled = enable; };
    for (const CommandEntry* q = DeviceInfoQuery; q->id != 0; ++q)
        script(q->text, "\r\nOK\r\n");
    script("AT+NAME?\r", "\r\nDesk\r\nOK\r\n");
    feed("\r\nOK\r\n");
    devInitTimerStep();
    enableDeviceControlsHook = nullptr;
    EXPECT_TRUE(controlsEnabled);
    EXPECT_EQ(settingsApplied.size(), 1u) << "no search once answered";
    EXPECT_EQ(bIndex * 100 + bTry, 1000);
    const std::vector<std::string> all = writes();
    std::vector<std::string> queries(all.begin() + 3, all.end());
    std::vector<std::string> expected;
    for (const CommandEntry* q = DeviceInfoQuery; q->id != 0; ++q)
        expected.push_back(q->text);
    EXPECT_EQ(queries, expected);
    EXPECT_STREQ(device.name, "Desk");
    EXPECT_TRUE(logged("Local Device initialised successfully"));
}

TEST_F(DeviceInit, ExhaustedSearchTellsTheOperatorAndStops)
{
    bIndex = 20;
    bTry = 11;
    pend("AT\r", 0, 1);
    devInitTimerStep();
    EXPECT_EQ(narrow(boxes.texts().at(0)), "Failed to initialise device. Device is not responding or wrong COM port "
                                            "is selected \t\t\t\t\t\t\t Try changing the UART and restarting the "
                                            "application.");
    EXPECT_TRUE(writes().empty());
    EXPECT_TRUE(timersArmed.empty());
    EXPECT_EQ(bIndex * 100 + bTry, 1000);
}
