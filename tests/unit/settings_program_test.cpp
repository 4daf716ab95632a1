// Programming the adapter from a loaded file: which commands, in which order,
// and nothing longer than the command buffer.
#include <gtest/gtest.h>
#include "settings_test_util.h"
#include "atcommand/atcommand.h"
#include "serial/uart.h"
#include "settings/settings.h"
#include "support/test_env.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

std::vector<std::string>* writes = nullptr;

// Every write is answered at once, so each blocking send returns without
// the adapter's handling: the records stay as the test set them.
int recordWrite(const uint8_t* buffer, uint32_t length)
{
    writes->emplace_back(reinterpret_cast<const char*>(buffer), length);
    SetEvent(atCommandEvent);
    return 0;
}

class ProgramLoaded : public ::testing::Test {
protected:
    void SetUp() override
    {
        writes = &written;
        savedWrite_ = uartWriteHook;
        uartWriteHook = recordWrite;
        atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        memset(&atCommand, 0, sizeof atCommand);
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
        setExampleRecords();
        device.isDeviceInitialised = 1;
        // The file as saved from these records.
        std::string path = settingsTestPath("program.txt");
        ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
        ASSERT_EQ(readSettingsFile(path.c_str()), 1);
    }
    void TearDown() override
    {
        uartWriteHook = savedWrite_;
        CloseHandle(atCommandEvent);
        atCommandEvent = nullptr;
        memset(&atCommand, 0, sizeof atCommand);
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
        writes = nullptr;
    }
    Texts run()
    {
        written.clear();
        window.clear();
        programLoadedSettings();
        window.pump(20);
        return written;
    }

    Texts written;
    UartWriteFn savedWrite_ = nullptr;
    MessageBoxRecorder boxes;
    StandInMainWindow window;
};

const Texts bracketOnly = {"Programming the adapter with the loaded settings...",
                           "Adapter programmed with loaded settings."};

TEST_F(ProgramLoaded, MatchingFileSendsNothing)
{
    EXPECT_TRUE(run().empty());
    EXPECT_EQ(window.logLines, bracketOnly);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(ProgramLoaded, EveryDifferenceInItsOrder)
{
    LoadedSettings& file = loadedSettings;
    file.port = 9;   // never sent: loading does not move the port
    file.baud = 115200;
    file.stopBits = 2;
    file.parity = 0x0400;
    strcpy(file.name, "Other Adapter");
    strcpy(file.pin, "1111");
    file.disablePin = 1;
    file.escapeMode = 0;
    file.echoMode = 0;
    file.autoPower = 1;
    file.commandResponse = 0;
    file.remoteConfig = 0;
    file.discoverable = 0;
    file.role = 1;
    file.autoConnect = 0;
    file.flowControl = 0;
    EXPECT_EQ(run(), (Texts{"AT+BAUD17\r", "AT+STOP2\r", "AT+PAR2\r", "AT+NAME=Other Adapter\r", "AT+PIN=1111\r",
                            "AT+PIN-\r", "AT+ESC-\r", "AT+ECHO-\r", "AT+SLEEP+\r", "AT+RESP-\r", "AT+RCFG-\r",
                            "AT+DCOV-\r", "AT+ROLEM\r", "AT+ACON-\r", "AT+FLOW-\r"}));
    EXPECT_EQ(window.logLines, bracketOnly);   // sent without echo to the log
}

TEST_F(ProgramLoaded, ValuesAreMappedAndComparedAsStored)
{
    LoadedSettings& file = loadedSettings;
    file.baud = 300;                  // not a rate of the list
    file.parity = 0x0300;             // not a parity code
    strcpy(file.name, "serial adapter");   // bytes, not case
    file.pin[0] = '\0';               // an empty PIN is sent too
    file.disablePin = 0;
    device.pinDisabled = 1;           // never puts a PIN back by itself
    file.escapeMode = 2;              // both non-zero, still different
    file.role = 0;                    // no Role line
    file.echoMode = 0;
    device.echoOn = 5;
    EXPECT_EQ(run(), (Texts{"AT+BAUD14\r", "AT+PAR0\r", "AT+NAME=serial adapter\r", "AT+PIN=\r", "AT+ESC+\r",
                            "AT+ECHO-\r", "AT+ROLES\r"}));

    setExampleRecords();
    strcpy(file.name, device.name);
    file.escapeMode = 1;
    file.echoMode = 1;
    uart.baud = 0;
    uart.parity = 0;
    file.baud = 1200;
    file.parity = 0x0100;
    file.role = 2;
    file.disablePin = 1;
    device.pinDisabled = 2;           // only 1 counts as no PIN
    strcpy(file.pin, device.pin);
    EXPECT_EQ(run(), (Texts{"AT+BAUD10\r", "AT+PAR0\r", "AT+PIN-\r"}));

    uart.baud = 9600;
    file.baud = 230400;
    uart.parity = 0x0100;
    file.parity = 0x0200;
    EXPECT_EQ(run(), (Texts{"AT+BAUD18\r", "AT+PAR1\r", "AT+PIN-\r"}));
}

TEST_F(ProgramLoaded, RefusedCommandIsLoggedAndTheRestGoesOn)
{
    loadedSettings.stopBits = 0;   // no StopBits line
    loadedSettings.flowControl = 0;
    EXPECT_EQ(run(), (Texts{"AT+FLOW-\r"}));
    EXPECT_EQ(window.logLines, (Texts{"Programming the adapter with the loaded settings...",
                                      "Sending Invalid command AT+STOP0\r failed.",
                                      "Adapter programmed with loaded settings."}));
}

TEST_F(ProgramLoaded, OverlongTextsStopAtTheirFields)
{
    // Unterminated fields, as if filled past their end: the command carries
    // at most 15 name and 7 PIN characters.
    memset(loadedSettings.name, 'N', sizeof loadedSettings.name);
    memset(loadedSettings.pin, 'P', sizeof loadedSettings.pin);
    EXPECT_EQ(run(), (Texts{"AT+NAME=NNNNNNNNNNNNNNN\r", "AT+PIN=PPPPPPP\r"}));

    // The same texts held by the adapter compare equal.
    memset(device.name, 'N', sizeof device.name);
    memset(device.pin, 'P', sizeof device.pin);
    EXPECT_TRUE(run().empty());
}

} // namespace
