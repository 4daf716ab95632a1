// Saving and loading settings files against the simulated adapter: what
// reaches the adapter, in order, through the real serial driver.
#include "app/msgbox.h"
#include "app/notify.h"
#include "atcommand/atcommand.h"
#include "serial/uart.h"
#include "settings/settings.h"
#include "support/sim_client.h"
#include "support/test_env.h"
#include "unit/settings_test_util.h"
#include <gtest/gtest.h>

#include <commdlg.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

// Replaces one whole line ("Baud = 9600") of a file, or drops it when
// `with` is empty.
std::string replaceLine(std::string text, const std::string& line, const std::string& with)
{
    size_t at = text.find(line + "\r\n");
    if (at == std::string::npos)
        return "<no line " + line + ">";
    text.replace(at, line.size() + 2, with.empty() ? "" : with + "\r\n");
    return text;
}

// The file the operator picks in the dialog.
std::wstring chosenName;
int chooseFile(tagOFNW* dialog, bool, unsigned long*)
{
    std::string dir = settingsTestPath("");
    std::wstring path = std::wstring(dir.begin(), dir.end()) + chosenName;
    lstrcpynW(dialog->lpstrFile, path.c_str(), dialog->nMaxFile);
    dialog->nFileOffset = static_cast<WORD>(path.size() - chosenName.size());
    lstrcpynW(dialog->lpstrFileTitle, chosenName.c_str(), dialog->nMaxFileTitle);
    return TRUE;
}

} // namespace

class SettingsOnTheLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset"));
        atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
        fileDialogHook = chooseFile;
    }

    void TearDown() override
    {
        UartDeinit();
        fileDialogHook = nullptr;
        CloseHandle(atCommandEvent);
        atCommandEvent = nullptr;
        window.pump(0);
    }

    // Opens the port at the adapter's line settings and reads the adapter
    // as Get Device Info does.
    void bringUp(int baud)
    {
        ASSERT_TRUE(sim.setLine(baud, "none", 1, true));
        memset(&uart, 0, sizeof uart);
        uart.port = simComPort();
        uart.baud = baud;
        uart.parity = PARITY_NONE;
        uart.stopBits = 1;
        uart.flow = 1;
        ASSERT_EQ(UartInit(), 0);
        device.isDeviceInitialised = 1;
        getDeviceInfo();
        ASSERT_EQ(device.responseOn, 1);
        ASSERT_STREQ(device.name, "Serial Adapter");
        ASSERT_EQ(boxes.count(), 0u);
    }

    // Saves the adapter's settings through File > Save and returns the file.
    std::string save(const wchar_t* name)
    {
        chosenName = name;
        saveSettingsFile();
        return readBytes(settingsTestPath(std::string(chosenName.begin(), chosenName.end())));
    }

    // Loads `content` through File > Load and returns what the adapter
    // executed meanwhile.
    Texts load(const std::string& content)
    {
        chosenName = L"load.txt";
        writeBytes(settingsTestPath("load.txt"), content);
        window.pump(0);
        window.clear();
        EXPECT_TRUE(sim.clear());
        loadSettingsFile();
        window.pump(100);
        return sim.received();
    }

    SimClient sim;
    StandInMainWindow window;
    MessageBoxRecorder boxes;
};

TEST_F(SettingsOnTheLine, LoadingTheFileJustSavedSendsNothing)
{
    bringUp(19200);
    std::string saved = save(L"saved.txt");
    ASSERT_NE(saved.find("\r\nBaud = 19200\r\nStopBits = 1\r\nFlowControl = On\r\n"), std::string::npos) << saved;
    ASSERT_NE(saved.find("\r\nName = Serial Adapter\r\nPin = 8642\r\n"), std::string::npos);

    EXPECT_TRUE(load(saved).empty());
    EXPECT_EQ(window.logLines, (Texts{"Programming the adapter with the loaded settings...",
                                      "Adapter programmed with loaded settings."}));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(SettingsOnTheLine, NewBaudRateGoesFirstAndTheRestFollowsAtIt)
{
    bringUp(9600);
    std::string file = save(L"at9600.txt");
    file = replaceLine(file, "Baud = 9600", "Baud = 115200");
    file = replaceLine(file, "Name = Serial Adapter", "Name = Loaded Adapter");
    file = replaceLine(file, "EchoMode = On", "EchoMode = Off");
    file = replaceLine(file, "AutoConnect = On", "AutoConnect = Off");

    // The adapter only executes what arrives at its own line settings, so
    // the three after the baud change came at 115200.
    EXPECT_EQ(load(file), (Texts{"AT+BAUD17\r", "AT+NAME=Loaded Adapter\r", "AT+ECHO-\r", "AT+ACON-\r"}));
    EXPECT_EQ(sim.tty().baud, 115200);
    EXPECT_EQ(uart.baud, 115200);
    auto state = sim.state();
    EXPECT_EQ(state["baud"], "115200");
    EXPECT_EQ(state["name"], "Loaded Adapter");
    EXPECT_EQ(state["echo"], "0");
    EXPECT_EQ(state["autoconnect"], "0");
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(SettingsOnTheLine, MissingStopBitsIsRefusedAndLogged)
{
    bringUp(19200);
    std::string file = replaceLine(save(L"nostop.txt"), "StopBits = 1", "");
    file = replaceLine(file, "Discoverable = On", "Discoverable = Off");
    EXPECT_EQ(load(file), (Texts{"AT+DCOV-\r"}));
    EXPECT_EQ(window.logLines, (Texts{"Programming the adapter with the loaded settings...",
                                      "Sending Invalid command AT+STOP0\r failed.",
                                      "Adapter programmed with loaded settings."}));
    EXPECT_EQ(uart.stopBits, 1);
}

TEST_F(SettingsOnTheLine, DisablePinFollowsANewPin)
{
    bringUp(19200);
    std::string file = save(L"pin.txt");
    file = replaceLine(file, "Pin = 8642", "Pin = 1234");
    file = replaceLine(file, "DisablePin = Off", "DisablePin = On");
    EXPECT_EQ(load(file), (Texts{"AT+PIN=1234\r", "AT+PIN-\r"}));
    EXPECT_EQ(sim.state()["pindisabled"], "1");
    EXPECT_EQ(device.pinDisabled, 1);
}
