// The engine end to end: the real serial driver and its read thread against
// the simulated adapter, timers and notifications as real window messages.
#include "common/msgbox.h"
#include "common/notify.h"
#include "atcommand/atcommand.h"
#include "atcommand/internal.h"
#include "serial/uart.h"
#include "support/sim_client.h"
#include "support/test_env.h"
#include "unit/trace_capture.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

std::vector<std::vector<int>> applied;  // baud, parity, stop bits, flow of each change

} // namespace

class EngineOnTheLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset"));
        // What the main window does on the engine's timers.
        window.onTimer = [](UINT_PTR id) {
            if (id == DevInitTimer)
                return devInitTimerStep();
            KillTimer(mainHwnd, id);
            if (id == ATCommandTimer)
                processTimedResponse();
        };
        atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
        bIndex = 10;
        bTry = 0;
        applied.clear();
        seams.uartChangeSettings = [] {
            applied.push_back({uart.baud, uart.parity, uart.stopBits, uart.flow});
            return UartChangeSettings();
        };
    }

    void TearDown() override
    {
        UartDeinit();
        seams.uartChangeSettings = UartChangeSettings;
        CloseHandle(atCommandEvent);
        atCommandEvent = nullptr;
    }

    // Opens the port at the simulated adapter's settings after a reset:
    // 19200 baud, no parity, one stop bit, flow control on.
    void open(bool initialised)
    {
        memset(&uart, 0, sizeof uart);
        uart.port = simComPort();
        uart.baud = 19200;
        uart.parity = PARITY_NONE;
        uart.stopBits = 1;
        uart.flow = 1;
        ASSERT_EQ(UartInit(), 0);
        device.isDeviceInitialised = device.responseOn = initialised;
    }

    void expectDeviceRead()
    {
        auto s = sim.state();
        EXPECT_EQ((std::vector<std::string>{device.name, device.address, device.version, device.pin}),
                  (std::vector<std::string>{s["name"], s["address"], s["version"], s["pin"]}));
        EXPECT_EQ((std::vector<int>{device.echoOn, device.responseOn, device.role, device.baudCode, uart.baud,
                                    uart.stopBits, uart.flow}),
                  (std::vector<int>{std::stoi(s["echo"]), std::stoi(s["resp"]), s["role"] == "M" ? 1 : 2,
                                    std::stoi(s["baudcode"]), std::stoi(s["baud"]), std::stoi(s["stop"]),
                                    std::stoi(s["flow"])}));
    }

    SimClient sim;
    StandInMainWindow window;
};

TEST_F(EngineOnTheLine, SearchFindsTheAdapterWhereThePhaseTableSaysStaysThereOnErrorThenReadsIt)
{
    MessageBoxRecorder boxes;
    ASSERT_TRUE(sim.setLine(9600, "odd", 2, false));
    ASSERT_TRUE(sim.ok("error on"));
    open(false);
    // Odd parity, two stop bits, flow off is phase 9; starting two rates
    // short of 9600 (attempt 92 of the whole walk), attempt 94 is the third.
    bTry = 9;
    bIndex = 11;
    ASSERT_EQ(sendAtCommand("AT\r", 0, 1), SEND_OK);
    ASSERT_TRUE(window.pumpUntil([this] { return sim.received().size() >= 3; }, 15000));
    ASSERT_TRUE(sim.ok("error off"));
    // The adapter answered: the engine enables the panel's adapter controls.
    const std::pair<UINT, LPARAM> enable{ID_NOTIFY_DEVICE_CONTROLS, TRUE};
    ASSERT_TRUE(window.pumpUntil(
        [this, enable] {
            return std::find(window.notifications.begin(), window.notifications.end(), enable) !=
                   window.notifications.end();
        },
        30000));

    // ERROR answers kept the search at the third setting.
    EXPECT_EQ(applied, (std::vector<std::vector<int>>{
                           {2400, PARITY_ODD, 2, 0}, {4800, PARITY_ODD, 2, 0}, {9600, PARITY_ODD, 2, 0}}));
    EXPECT_EQ(uart.parity, PARITY_ODD);
    expectDeviceRead();
    EXPECT_EQ(bIndex * 100 + bTry, 1000) << "a later search starts over";
    std::vector<std::string> received = sim.received();
    ASSERT_GE(received.size(), 3u + DEVICE_INFO_QUERIES);
    std::vector<std::string> expected(received.size() - DEVICE_INFO_QUERIES, "AT\r");
    for (int i = 0; i < DEVICE_INFO_QUERIES; ++i)
        expected.push_back(DeviceInfoQuery[i].text);
    EXPECT_EQ(received, expected) << "AT until answered with OK, then the queries in order";
    // Wine refuses some parity changes on a pseudo-terminal (the rest still
    // applies): the search goes on, with a box for each. No other box may appear.
    for (const auto& text : boxes.texts())
        EXPECT_EQ(text.rfind(L"Failed to set UART settings baud", 0), 0u) << narrow(text);
}

TEST_F(EngineOnTheLine, ResponseModeOffAndEchoOnAreReadAndTheBaudRateFollowsTheAdapter)
{
    MessageBoxRecorder boxes;
    ASSERT_TRUE(sim.set("resp", "off"));
    ASSERT_TRUE(sim.set("echo", "on"));
    ASSERT_TRUE(sim.set("name", "Porch"));
    open(true);
    device.responseOn = 0;  // as after start-up: the first query tells the framing
    getDeviceInfo();
    expectDeviceRead();
    EXPECT_EQ(sendAtCommand("AT+ECHO-\r", 0, 0), SEND_OK);
    EXPECT_EQ(sendAtCommand("AT+NAME=Garden\r", 0, 0), SEND_OK);
    // The port moves to 115200 with the adapter, and the next command gets through.
    EXPECT_EQ(sendAtCommand("AT+BAUD17\r", 0, 0), SEND_OK);
    EXPECT_EQ(sim.tty().baud, 115200);
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_OK);
    expectDeviceRead();
    EXPECT_EQ(applied.size(), 1u);
    EXPECT_EQ(sim.received().size(), 20u) << "nothing sent twice";
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{});
}

TEST_F(EngineOnTheLine, UnpluggedAdapterFailsAfterThreeWaits)
{
    MessageBoxRecorder boxes;
    open(true);
    ASSERT_TRUE(sim.ok("unplug"));
    TraceCapture trace;
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_FAILED);
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"Failed to send command AT+VER\r. Response not received correctly"});
    EXPECT_EQ(trace.countPrefix("ATCOMMAND: Response to command AT+VER\r was not received. Retry count"), 3u);
    EXPECT_EQ(trace.countPrefix("ATCOMMAND: Retry command AT+VER\r"), 2u);
}

// A report while a blocking send waits: the read thread handles it at once
// and goes on receiving; its box is shown by the window once the window's
// thread is free again, never on the read thread.
TEST_F(EngineOnTheLine, ReportDuringABlockingSendIsHandledAtOnceAndItsBoxShownByTheWindow)
{
    MessageBoxRecorder boxes;
    open(true);
    ASSERT_TRUE(sim.ok("mute"));
    std::atomic<bool> sending{true};
    bool handledWhileSending = false;
    std::thread adapterSide([&] {
        SimClient control;
        Sleep(300);
        control.inject("\r\nCONNECT 0012-6F-654321\r\n");
        for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
            EngineLock lock;
            if (device.isConnected == 1) {
                handledWhileSending = sending;
                break;
            }
        }
        control.ok("unmute");
    });
    uint16_t result = sendAtCommand("AT+VER\r", 0, 0);
    sending = false;
    adapterSide.join();

    EXPECT_TRUE(handledWhileSending) << "the report waited for the sender";
    EXPECT_EQ(boxes.count(), 0u) << "a box on the read thread";
    window.pump(200);
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"Local Device connected to remote device with address 0012-6F-654321"});
    EXPECT_EQ(boxes.threads(), std::vector<DWORD>{GetCurrentThreadId()});
    EXPECT_STREQ(remoteAddress, "0012-6F-654321");
    // The command got its answer to the re-send after all.
    EXPECT_EQ(result, SEND_OK);
    EXPECT_STREQ(device.version, sim.state()["version"].c_str());
}

// The remote adapter over a real connection: the reply comes in two blocks
// on the read thread, and the handshake's time-out is a real timer. The
// baud change comes after that time-out would have expired.
TEST_F(EngineOnTheLine, BaudChangeLongAfterTheHandshakeIsStillUnderstood)
{
    MessageBoxRecorder boxes;
    std::vector<std::string> timedOut;
    window.onTimer = [&timedOut](UINT_PTR id) {
        KillTimer(mainHwnd, id);
        if (id != HandshakeCommandTimer)
            return;
        if (const char* text = handshakeTimerStep())
            timedOut.push_back(text);
    };
    auto logged = [this](const std::string& line) {
        return std::find(window.logLines.begin(), window.logLines.end(), line) != window.logLines.end();
    };
    open(true);
    ASSERT_TRUE(sim.ok("connect 0012-6F-654321"));
    ASSERT_TRUE(window.pumpUntil([] { return device.isConnected == 1; }, 5000));
    ASSERT_TRUE(sim.set("remotesplit", "on"));

    startHandshake();
    ASSERT_TRUE(window.pumpUntil([&] { return logged("Handshake Complete..."); }, 3000));
    EXPECT_EQ(handshakeState, HANDSHAKE_COMPLETE);
    window.pump(4500);
    sendRemoteCommand(REMOTE_CMD_BAUD, 4);
    EXPECT_TRUE(window.pumpUntil([&] { return logged("Remote Device Baud rate changed."); }, 3000));
    EXPECT_EQ(sim.data(), std::string(8, '\xAA') + "\x01\x04");
    EXPECT_EQ(sim.state()["remotebaud"], "4");
    window.pump(4500);
    EXPECT_EQ(timedOut, std::vector<std::string>{}) << "a handled reply does not also time out";
    EXPECT_EQ(handshakeState, HANDSHAKE_COMPLETE);
}
