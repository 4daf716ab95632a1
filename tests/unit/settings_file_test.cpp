// The settings file's reader and writer: exact bytes on disk, value rules,
// open failures.
#include <gtest/gtest.h>
#include "settings_test_util.h"
#include "app/debuglog.h"
#include "atcommand/atcommand.h"
#include "serial/uart.h"
#include "settings/settings.h"
#include "support/test_env.h"

#include <cstring>
#include <string>

namespace {

const char exampleFile[] =
    "# RZ310 Configuration Utility Settings\r\n"
    "Port = COM3\r\n"
    "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\r\n"
    "Baud = 9600\r\n"
    "StopBits = 1\r\n"
    "FlowControl = On\r\n"
    "# Valid parity values are none, odd, even\r\n"
    "Parity = None\r\n"
    "Name = Serial Adapter\r\n"
    "Pin = 8642\r\n"
    "Discoverable = On\r\n"
    "DisablePin = Off\r\n"
    "Role = Slave\r\n"
    "AutoConnect = On\r\n"
    "EscapeMode = On\r\n"
    "EchoMode = On\r\n"
    "AutoPower = Off\r\n"
    "CommandResponse = On\r\n"
    "RemoteConfig = On\r\n";

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
        memset(&loadedSettings, 0, sizeof loadedSettings);
    }
    void TearDown() override
    {
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
    }
    // Reads `content` (written in binary, so line ends are as given) and
    // returns the diagnostic lines the reader wrote.
    std::string readText(const std::string& content, const std::string& name = "read.txt")
    {
        std::string path = settingsTestPath(name);
        writeBytes(path, content);
        DiagnosticCapture diag;
        EXPECT_EQ(readSettingsFile(path.c_str()), 1);
        return diag.text();
    }
    MessageBoxRecorder boxes;
};

TEST_F(SettingsFile, WriterProducesTheExampleByteForByte)
{
    setExampleRecords();
    std::string path = settingsTestPath("example.txt");
    ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
    EXPECT_EQ(readBytes(path), exampleFile);
    EXPECT_EQ(boxes.count(), 0u);

    // Writing again empties the file first.
    device.role = 1;
    uart.parity = 0x0400;
    ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
    std::string again = readBytes(path);
    EXPECT_NE(again.find("\r\nParity = Even\r\nName"), std::string::npos);
    EXPECT_NE(again.find("\r\nRole = Master\r\nAutoConnect"), std::string::npos);
    EXPECT_EQ(again.size(), strlen(exampleFile) + 1);   // "Even" and "Master" against "None" and "Slave"
}

TEST_F(SettingsFile, WrittenRecordsReadBackEqual)
{
    struct Case { int32_t parity, role, flag; const char* name; const char* pin; };
    const Case cases[] = {
        {0x0100, 2, 1, "Serial Adapter", "8642"},
        {0x0200, 1, 0, "Fifteen chars!!", "1234567"},   // both fields full
        {0x0400, 1, 1, "", ""},
    };
    for (const Case& c : cases) {
        setExampleRecords();
        uart.port = 12;
        uart.baud = 230400;
        uart.stopBits = 2;
        uart.parity = c.parity;
        uart.flow = c.flag;
        device.role = c.role;
        device.echoOn = c.flag;
        device.responseOn = !c.flag;
        device.discoverable = c.flag;
        device.escapeOn = !c.flag;
        device.sleepOn = c.flag;
        device.autoConnect = !c.flag;
        device.pinDisabled = c.flag;
        device.remoteConfig = !c.flag;
        strcpy(device.name, c.name);
        strcpy(device.pin, c.pin);

        std::string path = settingsTestPath("roundtrip.txt");
        ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
        memset(&loadedSettings, 0x55, sizeof loadedSettings);
        ASSERT_EQ(readSettingsFile(path.c_str()), 1);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(loadedSettings.port, 12);
        EXPECT_EQ(loadedSettings.baud, 230400);
        EXPECT_EQ(loadedSettings.stopBits, 2);
        EXPECT_EQ(loadedSettings.parity, c.parity);
        EXPECT_EQ(loadedSettings.flowControl, uart.flow);
        EXPECT_EQ(loadedSettings.role, c.role);
        EXPECT_EQ(loadedSettings.echoMode, device.echoOn);
        EXPECT_EQ(loadedSettings.commandResponse, device.responseOn);
        EXPECT_EQ(loadedSettings.discoverable, device.discoverable);
        EXPECT_EQ(loadedSettings.escapeMode, device.escapeOn);
        EXPECT_EQ(loadedSettings.autoPower, device.sleepOn);
        EXPECT_EQ(loadedSettings.autoConnect, device.autoConnect);
        EXPECT_EQ(loadedSettings.disablePin, device.pinDisabled);
        EXPECT_EQ(loadedSettings.remoteConfig, device.remoteConfig);
        EXPECT_STREQ(loadedSettings.name, c.name);
        EXPECT_STREQ(loadedSettings.pin, c.pin);
    }
}

TEST_F(SettingsFile, UnknownParityAndRoleLinesAreLeftOut)
{
    // Nothing read yet: the state of a tool that never reached the adapter.
    std::string path = settingsTestPath("empty.txt");
    ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
    std::string text = readBytes(path);
    EXPECT_EQ(text,
              "# RZ310 Configuration Utility Settings\r\n"
              "Port = COM0\r\n"
              "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\r\n"
              "Baud = 0\r\n"
              "StopBits = 0\r\n"
              "FlowControl = Off\r\n"
              "# Valid parity values are none, odd, even\r\n"
              "Name = \r\n"
              "Pin = \r\n"
              "Discoverable = Off\r\n"
              "DisablePin = Off\r\n"
              "AutoConnect = Off\r\n"
              "EscapeMode = Off\r\n"
              "EchoMode = Off\r\n"
              "AutoPower = Off\r\n"
              "CommandResponse = Off\r\n"
              "RemoteConfig = Off\r\n");

    uart.parity = 0x0300;
    device.role = 3;
    ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
    EXPECT_EQ(readBytes(path), text);
}

TEST_F(SettingsFile, WriterBoundsUnterminatedTextFields)
{
    setExampleRecords();
    memset(device.name, 'N', sizeof device.name);
    memset(device.pin, 'P', sizeof device.pin);
    std::string path = settingsTestPath("unterminated.txt");
    ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
    std::string text = readBytes(path);
    EXPECT_NE(text.find("\r\nName = NNNNNNNNNNNNNNN\r\nPin = PPPPPPP\r\nDiscoverable"), std::string::npos) << text;
}

TEST_F(SettingsFile, SwitchValuesFollowTheirCaseRules)
{
    std::string diag = readText(
        "FlowControl = ON\n"
        "EchoMode = on\n"
        "AutoPower = oN\n"
        "Discoverable = Off\n"
        "EscapeMode = OFF\n"          // not accepted: default on
        "CommandResponse = off\n"     // not accepted: default on
        "DisablePin = On \n"          // trailing blank: default off
        "AutoConnect = yes\n"         // default on
        "RemoteConfig = 0\n");        // default on
    EXPECT_EQ(loadedSettings.flowControl, 1);
    EXPECT_EQ(loadedSettings.echoMode, 1);
    EXPECT_EQ(loadedSettings.autoPower, 1);
    EXPECT_EQ(loadedSettings.discoverable, 0);
    EXPECT_EQ(loadedSettings.escapeMode, 1);
    EXPECT_EQ(loadedSettings.commandResponse, 1);
    EXPECT_EQ(loadedSettings.disablePin, 0);
    EXPECT_EQ(loadedSettings.autoConnect, 1);
    EXPECT_EQ(loadedSettings.remoteConfig, 1);
    EXPECT_NE(diag.find("Invalid value for Escape Mode in Line EscapeMode = OFF\n. Using Default value ON"),
              std::string::npos) << diag;
    EXPECT_NE(diag.find("Invalid value for Command Response in Line CommandResponse = off\n. Using Default value ON"),
              std::string::npos);
    EXPECT_NE(diag.find("Invalid value for disable pin in Line DisablePin = On \n. Using Default value OFF"),
              std::string::npos);
    EXPECT_NE(diag.find("Invalid value for auto connect in Line AutoConnect = yes\n. Using Default value ON"),
              std::string::npos);
    EXPECT_NE(diag.find("Invalid value for Remote Config in Line RemoteConfig = 0\n"), std::string::npos) << diag;
    EXPECT_EQ(diag.find("Invalid value for flow control"), std::string::npos);

    // An unaccepted value whose default is off.
    diag = readText("AutoPower = 1\nFlowControl = On \n");
    EXPECT_EQ(loadedSettings.autoPower, 0);
    EXPECT_EQ(loadedSettings.flowControl, 1);
    EXPECT_NE(diag.find("Invalid value for Auto Power in Line AutoPower = 1\n. Using Default value OFF"),
              std::string::npos);
    EXPECT_NE(diag.find("Invalid value for flow control in Line FlowControl = On \n. Using Default flow control ON"),
              std::string::npos);
}

TEST_F(SettingsFile, RoleParityPortAndNumbers)
{
    std::string diag = readText("Role = master\nParity = Odd\nPort = COM7\nBaud = 57600x\nStopBits = 2\n");
    EXPECT_EQ(loadedSettings.role, 1);
    EXPECT_EQ(loadedSettings.parity, 0x0200);
    EXPECT_EQ(loadedSettings.port, 7);
    EXPECT_EQ(loadedSettings.baud, 57600);
    EXPECT_EQ(loadedSettings.stopBits, 2);
    EXPECT_EQ(diag.find("Invalid value"), std::string::npos);

    diag = readText("Role = slave\nParity = none\nPort = 7\nBaud = fast\n");
    EXPECT_EQ(loadedSettings.role, 2);
    EXPECT_NE(diag.find("Invalid value for role in Line Role = slave\n. Using Default role Slave"), std::string::npos);
    EXPECT_EQ(loadedSettings.parity, 0);   // lower case, as the comment writes it: ignored quietly
    EXPECT_EQ(loadedSettings.port, 0);
    EXPECT_EQ(loadedSettings.baud, 0);
    EXPECT_EQ(diag.find("Invalid value for parity"), std::string::npos);

    // A later line of the same key wins; one that is ignored changes nothing.
    readText("Parity = Even\nParity = Odd\nParity = ODD\nPort = COM4\nPort = COMX\nBaud = 1200\nBaud = 2400\n");
    EXPECT_EQ(loadedSettings.parity, 0x0200);
    EXPECT_EQ(loadedSettings.port, 4);
    EXPECT_EQ(loadedSettings.baud, 2400);
}

TEST_F(SettingsFile, KeysAreFoundBySubstringInOrder)
{
    std::string diag = readText(
        "Port = COM5\n"
        "Name = Portable\n"     // Port is tried first and found in the value
        "DisablePin = On\n"     // DisablePin before Pin
        "baud = 9600\n"         // lower case key: unhandled
        "Baud 4800\n"           // no equals sign
        "\n"                    // blank line: unhandled
        "  \t# Baud = 300\n"    // indented comment
        "Pin =\t 12 \n"         // trailing blank kept, leading blanks and tabs skipped
        "Role = Master");       // last line without a line end
    EXPECT_EQ(loadedSettings.port, 5);
    EXPECT_STREQ(loadedSettings.name, "");
    EXPECT_EQ(loadedSettings.disablePin, 1);
    EXPECT_STREQ(loadedSettings.pin, "12 ");
    EXPECT_EQ(loadedSettings.baud, 0);
    EXPECT_EQ(loadedSettings.role, 1);
    // Missing keys stay cleared.
    EXPECT_EQ(loadedSettings.stopBits, 0);
    EXPECT_EQ(loadedSettings.parity, 0);
    EXPECT_EQ(loadedSettings.echoMode, 0);

    std::string file = settingsTestPath("read.txt");
    EXPECT_NE(diag.find("Read Line Name = Portable\n"), std::string::npos) << diag;
    EXPECT_NE(diag.find("Unhandled entry baud = 9600\n in " + file + " file\n"), std::string::npos) << diag;
    EXPECT_NE(diag.find("line Baud 4800\n format not correct\n"), std::string::npos);
    EXPECT_NE(diag.find("Unhandled entry \n in " + file + " file\n"), std::string::npos);
    EXPECT_NE(diag.find("Read Line Role = Master\n"), std::string::npos);
    EXPECT_EQ(diag.find("Unhandled entry   \t#"), std::string::npos);
    EXPECT_EQ(countOf(diag, "Read Line "), 9u);
}

TEST_F(SettingsFile, LongLinesAreReadInPiecesOf1022)
{
    // 1021 characters and the line end fit one read; 1022 do not.
    std::string fits = "#" + std::string(1020, 'x') + "\n";
    std::string splits = "#" + std::string(1021, 'x') + "\n";
    EXPECT_EQ(countOf(readText(fits), "Read Line "), 1u);
    std::string diag = readText(splits);
    EXPECT_EQ(countOf(diag, "Read Line "), 2u);
    EXPECT_NE(diag.find("Unhandled entry \n"), std::string::npos);

    // The rest of a long line is a line of its own, so a key can start there.
    // A key cut in two is no key.
    readText("#" + std::string(1021, 'y') + "Baud = 4800\n" + std::string(3 * 1022 - 4, 'z') + "StopBits = 2\n");
    EXPECT_EQ(loadedSettings.baud, 4800);
    EXPECT_EQ(loadedSettings.stopBits, 0);
    readText(std::string(3 * 1022 - 12, 'z') + "StopBits = 2\n");
    EXPECT_EQ(loadedSettings.stopBits, 2);
}

TEST_F(SettingsFile, OverlongNameAndPinAreCutToTheirFields)
{
    std::string longName(1000, 'n');
    std::string diag = readText("Pin = 4321\nName = " + longName + "\n");
    EXPECT_EQ(std::string(loadedSettings.name), std::string(15, 'n'));
    EXPECT_STREQ(loadedSettings.pin, "4321");   // the field after name is untouched
    EXPECT_NE(diag.find("Name value longer than 15 characters in Line Name = nnn"), std::string::npos) << diag;

    diag = readText("Name = Exactly fifteen\nPin = 12345678901234567890\n");
    EXPECT_STREQ(loadedSettings.name, "Exactly fifteen");
    EXPECT_STREQ(loadedSettings.pin, "1234567");
    EXPECT_NE(diag.find("Pin value longer than 7 characters"), std::string::npos);
    EXPECT_EQ(diag.find("Name value longer"), std::string::npos);
}

TEST_F(SettingsFile, OpenFailuresShowTheirBox)
{
    loadedSettings.baud = 1234;
    std::string missing = settingsTestPath("no-such-file.txt");
    EXPECT_EQ(readSettingsFile(missing.c_str()), 0);
    EXPECT_EQ(loadedSettings.baud, 1234);   // the last file read stays
    // A folder cannot be opened as a file.
    std::string folder = settingsTestPath("a-folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_EQ(readSettingsFile(folder.c_str()), 0);

    // A file another program holds without sharing.
    std::string held = settingsTestPath("held.txt");
    writeBytes(held, "Baud = 1\n");
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(writeSettingsFile(held.c_str()), 0);
    CloseHandle(holder);
    EXPECT_EQ(readBytes(held), "Baud = 1\n");
    EXPECT_EQ(writeSettingsFile(folder.c_str()), 0);
    std::string noFolder = settingsTestPath("missing-folder\\settings.txt");
    EXPECT_EQ(writeSettingsFile(noFolder.c_str()), 0);

    std::vector<std::wstring> expected = {
        L"Failed to open settings.txt file.No such file present",
        L"Failed to open settings.txt file.Access Denied",
        L"Failed to create settings.txt file.Access Denied",
        L"Failed to create settings.txt file.Access Denied",
        L"Failed to open settings.txt file. Error 2",
    };
    EXPECT_EQ(boxes.texts(), expected);
}

TEST_F(SettingsFile, FailedWriteIsNotReportedAsSaved)
{
    // The disk-full device of the host: the file opens, the bytes do not fit.
    setExampleRecords();
    DiagnosticCapture diag;
    EXPECT_EQ(writeSettingsFile("Z:\\dev\\full"), 0);
    EXPECT_NE(diag.text().find("Failed to write Z:\\dev\\full file"), std::string::npos);
}

} // namespace
