// Programming the adapter from a loaded file: which commands, in which order,
// and nothing longer than the command buffer.
#include "atcommand_fixture.h"
#include "settings_test_util.h"

namespace {

using Texts = std::vector<std::string>;

// Every write is taken as accepted at once, so each blocking send returns
// without the adapter's handling: the records stay as the test set them.
class ProgramLoaded : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        acceptAll = true;
        setExampleRecords();
        // The file as saved from these records: it matches them.
        ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
        ASSERT_EQ(readSettingsFile(path.c_str()), 1);
    }
    void TearDown() override
    {
        EngineTest::TearDown();
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
    }
    Texts run()
    {
        written.clear();
        programLoadedSettings();
        window.pump(20);
        return written;
    }
    std::string path = settingsTestPath("settings.txt");
};

// Settings the adapter refused are counted, not reported as programmed.
TEST_F(ProgramLoaded, EveryDifferenceInItsOrderAndEachRefusalCounted)
{
    replies["AT+NAME=Other Adapter\r"] = replies["AT+ECHO-\r"] = "\r\nERROR\r\n";
    LoadedSettings& file = loadedSettings;
    file.port = 9;   // never sent: loading does not move the port
    file.baud = 115200;
    file.stopBits = 2;
    file.parity = PARITY_EVEN;
    strcpy(file.name, "Other Adapter");
    strcpy(file.pin, "1111");
    file.disablePin = file.autoPower = file.role = 1;
    file.escapeMode = file.echoMode = file.commandResponse = file.remoteConfig = 0;
    file.discoverable = file.autoConnect = file.flowControl = 0;
    // The line settings first: each moves the port along for the rest.
    EXPECT_EQ(run(), everyChangeIn({Setting::Baud, Setting::StopBits, Setting::Parity, Setting::Name, Setting::Pin,
                                    Setting::RemovePin, Setting::Escape, Setting::Echo, Setting::Sleep,
                                    Setting::Response, Setting::RemoteConfig, Setting::Discoverable, Setting::Role,
                                    Setting::AutoConnect, Setting::Flow}));
    // Sent without echo to the log.
    EXPECT_EQ(window.logLines, (Texts{"Programming the adapter with the loaded settings...",
                                      "Command AT+NAME=Other Adapter\r failed. Response ERROR",
                                      "Command AT+ECHO-\r failed. Response ERROR",
                                      "Adapter not fully programmed: 2 of the loaded settings failed."}));
    EXPECT_EQ(boxes.count(), 0u);
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
