// Saving and loading settings files against the simulated adapter: what
// reaches the adapter, in order, through the real serial driver.
#include "support/sim_client.h"
#include "unit/settings_test_util.h"

namespace {

using Texts = std::vector<std::string>;

class SettingsOnTheLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset"));
        atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
        seams.fileDialog = chooseScratchFile;
    }
    void TearDown() override
    {
        UartDeinit();
        seams.fileDialog = nullptr;
        CloseHandle(atCommandEvent);
        window.pump(0);
    }

    // Opens the port at the adapter's line settings, reads the adapter as
    // Get Device Info does and returns the file File > Save writes.
    std::string bringUpAndSave(int baud)
    {
        EXPECT_TRUE(sim.setLine(baud, "none", 1, true));
        memset(&uart, 0, sizeof uart);
        uart.port = simComPort();
        uart.baud = baud;
        uart.parity = PARITY_NONE;
        uart.stopBits = uart.flow = 1;
        EXPECT_EQ(UartInit(), 0);
        device.isDeviceInitialised = 1;
        getDeviceInfo();
        EXPECT_STREQ(device.name, "Serial Adapter");
        chosenFile = L"saved.txt";
        saveSettingsFile();
        return readBytes(settingsTestPath("saved.txt"));
    }

    // Loads `content` through File > Load; returns what the adapter executed.
    Texts load(const std::string& content)
    {
        chosenFile = L"load.txt";
        writeBytes(settingsTestPath("load.txt"), content);
        window.pump(0);
        window.clear();
        EXPECT_TRUE(sim.clear());
        loadSettingsFile();
        window.pump(100);
        EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{});
        return sim.received();
    }

    SimClient sim;
    StandInMainWindow window;
    MessageBoxRecorder boxes;
};

TEST_F(SettingsOnTheLine, LoadingTheFileJustSavedSendsNothing)
{
    std::string saved = bringUpAndSave(19200);
    EXPECT_NE(saved.find("\r\nBaud = 19200\r\nStopBits = 1\r\nFlowControl = On\r\n"), std::string::npos) << saved;
    EXPECT_TRUE(load(saved).empty());
    EXPECT_EQ(window.logLines, programmedLog);
}

TEST_F(SettingsOnTheLine, NewBaudRateGoesFirstAndTheRestFollowsAtIt)
{
    std::string file = replaced(bringUpAndSave(9600), "Baud = 9600", "Baud = 115200");
    file = replaced(file, "Name = Serial Adapter", "Name = Loaded Adapter");
    file = replaced(file, "EchoMode = On", "EchoMode = Off");
    // The adapter executes only what arrives at its own line settings.
    EXPECT_EQ(load(file), (Texts{"AT+BAUD17\r", "AT+NAME=Loaded Adapter\r", "AT+ECHO-\r"}));
    EXPECT_EQ(sim.tty().baud, 115200);
    EXPECT_EQ(uart.baud, 115200);
    EXPECT_EQ(sim.state()["name"], "Loaded Adapter");
}

TEST_F(SettingsOnTheLine, MissingStopBitsIsRefusedAndLogged)
{
    std::string file = replaced(bringUpAndSave(19200), "StopBits = 1\r\n", "");
    file = replaced(file, "Discoverable = On", "Discoverable = Off");
    EXPECT_EQ(load(file), (Texts{"AT+DCOV-\r"}));   // the rest still goes
    EXPECT_EQ(window.logLines, (Texts{programmedLog[0], "Sending Invalid command AT+STOP0\r failed.",
                                      "Adapter not fully programmed: 1 of the loaded settings failed."}));
    EXPECT_EQ(uart.stopBits, 1);
}

TEST_F(SettingsOnTheLine, DisablePinFollowsANewPin)
{
    std::string file = replaced(bringUpAndSave(19200), "Pin = 8642", "Pin = 1234");
    file = replaced(file, "DisablePin = Off", "DisablePin = On");
    EXPECT_EQ(load(file), (Texts{"AT+PIN=1234\r", "AT+PIN-\r"}));
    EXPECT_EQ(sim.state()["pindisabled"], "1");
}

} // namespace
