// The engine end to end: the real serial driver and its read thread against
// the simulated adapter, timers and notifications as real window messages.
#include "app/msgbox.h"
#include "app/notify.h"
#include "atcommand/atcommand.h"
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
bool controlsEnabled = false;

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
        controlsEnabled = false;
        uartChangeSettingsHook = [] {
            applied.push_back({uart.baud, uart.parity, uart.stopBits, uart.flow});
            return UartChangeSettings();
        };
        enableDeviceControlsHook = [](bool enable) { controlsEnabled = enable; };
    }

    void TearDown() override
    {
        UartDeinit();
        uartChangeSettingsHook = UartChangeSettings;
        enableDeviceControlsHook = nullptr;
        CloseHandle(atCommandEvent);
        atCommandEvent = nullptr;
    }

    // Opens the port at 19200 baud, no parity, one stop bit, flow control on:
    // the simulated adapter's own settings after a reset.
    void open(bool initialised)
    {
        memset(&uart, 0, sizeof uart);
        uart.port = simComPort();
        uart.baud = 19200;
        uart.parity = PARITY_NONE;
        uart.stopBits = 1;
        uart.flow = 1;
        ASSERT_EQ(UartInit(), 0);
        device.isDeviceInitialised = initialised;
        device.responseOn = initialised;
    }

    void expectDeviceRead()
    {
        auto state = sim.state();
        EXPECT_STREQ(device.name, state["name"].c_str());
        EXPECT_STREQ(device.address, state["address"].c_str());
        EXPECT_STREQ(device.version, state["version"].c_str());
        EXPECT_STREQ(device.pin, state["pin"].c_str());
        EXPECT_EQ(device.echoOn, std::stoi(state["echo"]));
        EXPECT_EQ(device.responseOn, std::stoi(state["resp"]));
        EXPECT_EQ(device.role, state["role"] == "M" ? 1 : 2);
        EXPECT_EQ(device.baudCode, std::stoi(state["baudcode"]));
        EXPECT_EQ(uart.baud, std::stoi(state["baud"]));
        EXPECT_EQ(uart.stopBits, std::stoi(state["stop"]));
        EXPECT_EQ(uart.flow, std::stoi(state["flow"]));
    }

    SimClient sim;
    StandInMainWindow window;
};

TEST_F(EngineOnTheLine, SearchFindsTheAdapterWhereThePhaseTableSaysThenReadsIt)
{
    MessageBoxRecorder boxes;
    ASSERT_TRUE(sim.setLine(9600, "odd", 2, false));
    open(false);
    // Odd parity, two stop bits, flow off is phase 9; starting two rates
    // short of 9600 (attempt 92 of the whole walk), attempt 94 is the third.
    bTry = 9;
    bIndex = 11;
    ASSERT_EQ(sendAtCommand("AT\r", 0, 1), SEND_OK);
    ASSERT_TRUE(window.pumpUntil([] { return controlsEnabled; }, 30000));

    EXPECT_EQ(applied, (std::vector<std::vector<int>>{
                           {2400, PARITY_ODD, 2, 0}, {4800, PARITY_ODD, 2, 0}, {9600, PARITY_ODD, 2, 0}}));
    EXPECT_EQ(uart.parity, PARITY_ODD);
    expectDeviceRead();
    std::vector<std::string> expected = {"AT\r"};
    for (int i = 0; i < DEVICE_INFO_QUERIES; ++i)
        expected.push_back(DeviceInfoQuery[i].text);
    EXPECT_EQ(sim.received(), expected) << "AT once the setting matched, then the queries in order";
    // Wine refuses a parity setting on a pseudo-terminal that already has
    // one, though it applies the rest; the search goes on regardless, with a
    // box for each refusal. No other box may appear.
    for (const auto& text : boxes.texts())
        EXPECT_EQ(text.rfind(L"Failed to set UART settings baud", 0), 0u) << narrow(text);
}

TEST_F(EngineOnTheLine, ErrorAnswersKeepTheSearchAtTheSameSetting)
{
    MessageBoxRecorder boxes;
    ASSERT_TRUE(sim.ok("error on"));
    open(false);
    ASSERT_EQ(sendAtCommand("AT\r", 0, 1), SEND_OK);
    auto attempts = [this] {
        auto executed = sim.received();
        return std::count(executed.begin(), executed.end(), "AT\r");
    };
    ASSERT_TRUE(window.pumpUntil([&] { return attempts() >= 3; }, 10000));
    EXPECT_EQ(device.isDeviceInitialised, 0);
    EXPECT_GE(std::count(window.logLines.begin(), window.logLines.end(),
                         "Device Initialzation Failed. Cmd AT\r Response ERROR"),
              2);
    ASSERT_TRUE(sim.ok("error off"));
    ASSERT_TRUE(window.pumpUntil([] { return controlsEnabled; }, 15000));
    EXPECT_TRUE(applied.empty()) << "no other setting tried";
    expectDeviceRead();
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{});
}

TEST_F(EngineOnTheLine, ResponseModeOffAndEchoOnAreReadCorrectly)
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
    expectDeviceRead();
    EXPECT_EQ(sim.received().size(), 18u) << "nothing sent twice";
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{});
}

TEST_F(EngineOnTheLine, BaudChangeMovesThePortWithTheAdapter)
{
    MessageBoxRecorder boxes;
    open(true);
    EXPECT_EQ(sendAtCommand("AT+BAUD17\r", 0, 0), SEND_OK);
    EXPECT_EQ(uart.baud, 115200);
    EXPECT_EQ(applied.size(), 1u);
    EXPECT_EQ(sim.tty().baud, 115200);
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_OK);
    EXPECT_STREQ(device.version, sim.state()["version"].c_str());
    EXPECT_EQ(sim.received(), (std::vector<std::string>{"AT+BAUD17\r", "AT+VER\r"}));
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
    EXPECT_STREQ(atCommand.command, "");
    EXPECT_EQ(trace.countPrefix("ATCOMMAND: Response to command AT+VER\r was not received. Retry count"), 3u);
    EXPECT_EQ(trace.countPrefix("ATCOMMAND: Retry command AT+VER\r"), 2u);
}

TEST_F(EngineOnTheLine, ReportDuringABlockingSendShowsItsBoxAtOnce)
{
    // Real message boxes: an owned box raised on the read thread would wait
    // for the user-interface thread, which is blocked in the send.
    ASSERT_EQ(messageBoxHook, nullptr);
    open(true);
    ASSERT_TRUE(sim.ok("mute"));
    std::atomic<bool> sending{true};
    bool shownWhileSending = false;
    HWND owner = nullptr;
    wchar_t text[256] = {};
    std::thread adapterSide([&] {
        SimClient control;
        Sleep(300);
        control.inject("\r\nCONNECT 0012-6F-654321\r\n");
        for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
            // Nothing here may send a message to the blocked thread's window.
            HWND box = nullptr;
            DWORD pid = 0;
            while ((box = FindWindowExW(nullptr, box, L"#32770", L"RZ310_Config")) != nullptr) {
                GetWindowThreadProcessId(box, &pid);
                if (pid == GetCurrentProcessId() && IsWindowVisible(box))
                    break;
            }
            if (!box)
                continue;
            shownWhileSending = sending;
            owner = GetWindow(box, GW_OWNER);
            GetDlgItemTextW(box, 0xFFFF, text, 256);
            control.ok("unmute");
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return;
        }
    });
    uint16_t result = sendAtCommand("AT+VER\r", 0, 0);
    sending = false;
    adapterSide.join();

    EXPECT_TRUE(shownWhileSending) << "the box waited for the sender";
    EXPECT_EQ(owner, nullptr);
    EXPECT_STREQ(text, L"Local Device connected to remote device with address 0012-6F-654321");
    EXPECT_STREQ(remoteAddress, "0012-6F-654321");
    // The command got its answer to the re-send after all.
    EXPECT_EQ(result, SEND_OK);
    EXPECT_STREQ(device.version, sim.state()["version"].c_str());
}
