// The engine on a real line, for what only threads and real timers show: a
// report handled while a blocking send waits, and handshake replies whose real
// time-outs expire after them and are ignored. The search and an adapter that
// never answers are unit tests; a port that vanishes runs end to end.
#include "common/notify.h"
#include "atcommand/atcommand.h"
#include "atcommand/internal.h"
#include "support/sim_client.h"
#include "support/sim_port.h"
#include "support/test_env.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

class EngineOnTheLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset"));
        atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
    }

    void TearDown() override
    {
        UartDeinit();
        CloseHandle(atCommandEvent);
        atCommandEvent = nullptr;
    }

    void open() // at the simulated adapter's settings after a reset
    {
        ASSERT_EQ(openSimPort(19200), 0);
        device.isDeviceInitialised = device.responseOn = 1;
    }

    SimClient sim;
    StandInMainWindow window;
    MessageBoxRecorder boxes;
};

// A report while a blocking send waits: the read thread handles it at once
// and goes on receiving; its box is shown by the window once the window's
// thread is free again, never on the read thread.
TEST_F(EngineOnTheLine, ReportDuringABlockingSendIsHandledAtOnceAndItsBoxShownByTheWindow)
{
    open();
    ASSERT_TRUE(sim.ok("mute"));
    std::atomic<bool> sending{true};
    bool handledWhileSending = false;
    std::thread adapterSide([&] {
        SimClient control;
        for (DWORD start = GetTickCount(); control.state()["discarded"] == "0" && GetTickCount() - start < 10000;)
            Sleep(20); // until the muted adapter has dropped the command: its sender waits
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
    window.pump(200);
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"Local Device connected to remote device with address 0012-6F-654321"});
    EXPECT_EQ(boxes.threads(), std::vector<DWORD>{GetCurrentThreadId()});
    EXPECT_STREQ(remoteAddress, "0012-6F-654321");
    EXPECT_EQ(result, SEND_OK) << "the re-send was answered";
    EXPECT_STREQ(device.version, sim.state()["version"].c_str());
}

// The remote adapter over a real connection: the reply comes in two blocks
// on the read thread, and the handshake's time-out is a real timer. The
// baud change comes after that time-out has expired.
TEST_F(EngineOnTheLine, BaudChangeLongAfterTheHandshakeIsStillUnderstood)
{
    // The stand-in window leaves a handled reply's timer armed: each expiry is ignored.
    std::vector<std::string> timedOut;
    window.onTimer = [&timedOut](UINT_PTR id) {
        KillTimer(mainHwnd, id);
        if (id == HandshakeCommandTimer)
            timedOut.push_back(handshakeTimerStep() ? "timed out" : "ignored");
    };
    auto logged = [this](const std::string& line) {
        return std::find(window.logLines.begin(), window.logLines.end(), line) != window.logLines.end();
    };
    open();
    ASSERT_TRUE(sim.ok("connect 0012-6F-654321"));
    ASSERT_TRUE(window.pumpUntil([] { return device.isConnected == 1; }, 5000));
    ASSERT_TRUE(sim.set("remotesplit", "on"));

    startHandshake();
    ASSERT_TRUE(window.pumpUntil([&] { return logged("Handshake Complete..."); }, 3000));
    ASSERT_TRUE(window.pumpUntil([&] { return timedOut.size() == 1; }, 10000)) << "no time-out armed";
    sendRemoteCommand(REMOTE_CMD_BAUD, 4);
    EXPECT_TRUE(window.pumpUntil([&] { return logged("Remote Device Baud rate changed."); }, 3000));
    EXPECT_EQ(sim.data(), std::string(8, '\xAA') + "\x01\x04");
    ASSERT_TRUE(window.pumpUntil([&] { return timedOut.size() == 2; }, 10000)) << "no time-out armed";
    EXPECT_EQ(timedOut, std::vector<std::string>(2, "ignored")) << "a handled reply does not also time out";
    EXPECT_EQ(handshakeState, HANDSHAKE_COMPLETE);
}
