// What each family of answers does to the records, the port and the windows.
#include "atcommand_fixture.h"

class Handling : public EngineTest {
protected:
    static constexpr UINT LOCAL = ID_NOTIFY_LOCAL_DEVICE;
    static std::vector<UINT> notes(UINT id) { return id ? std::vector<UINT>{id} : std::vector<UINT>{}; }
};

// Each family with a reply line and acknowledged with OK alone (the command
// says the value); -1 is "left alone".
TEST_F(Handling, NumberFamiliesOnReplyAndOnAcknowledgement)
{
    const struct {
        const char* command;
        const char* reply;
        int32_t* field;
        int32_t value;
        UINT posted;  // 0: nothing
    } rows[] = {
        {"AT+STOP2\r", "", &uart.stopBits, 2, LOCAL}, {"AT+STOP?\r", "\r\nSTOP1\r\n", &uart.stopBits, 1, LOCAL},
        {"AT+PAR2\r", "", &uart.parity, PARITY_EVEN, LOCAL},
        {"AT+PAR?\r", "\r\nPAR1\r\n", &uart.parity, PARITY_ODD, LOCAL},
        {"AT+FLOW-\r", "", &uart.flow, 0, LOCAL}, {"AT+FLOW?\r", "\r\nFLOW+\r\n", &uart.flow, 1, LOCAL},
        {"AT+BAUD17\r", "", &uart.baud, 115200, LOCAL}, {"AT+BAUD?\r", "\r\nBAUD13\r\n", &uart.baud, 9600, LOCAL},
        {"AT+BAUD?\r", "\r\nBAUD13\r\n", &device.baudCode, 13, LOCAL},
        {"AT+ECHO+\r", "", &device.echoOn, 1, LOCAL}, {"AT+ECHO?\r", "\r\nECHO-\r\n", &device.echoOn, 0, LOCAL},
        {"AT+RESP-\r", "", &device.responseOn, 0, LOCAL}, {"AT+RESP?\r", "\r\nRESP+\r\n", &device.responseOn, 1, LOCAL},
        {"AT+ROLEM\r", "", &device.role, 1, LOCAL},
        {"AT+ROLE?\r", "\r\nROLES\r\n", &device.role, 2, LOCAL},
        {"AT+DCOV-\r", "", &device.discoverable, 0, LOCAL},
        {"AT+DCOV?\r", "\r\nDCOV+\r\n", &device.discoverable, 1, LOCAL},
        {"AT+ACON-\r", "", &device.autoConnect, 0, LOCAL},
        {"AT+ACON?\r", "\r\nACON+\r\n", &device.autoConnect, 1, LOCAL},
        {"AT+ESC-\r", "", &device.escapeOn, 0, LOCAL}, {"AT+ESC?\r", "\r\nESC+\r\n", &device.escapeOn, 1, LOCAL},
        {"AT+RCFG+\r", "", &device.remoteConfig, 1, LOCAL},
        {"AT+RCFG?\r", "\r\nRCFG-\r\n", &device.remoteConfig, 0, LOCAL},
        {"AT+SLEEP+\r", "", &device.sleepOn, 1, LOCAL}, {"AT+SLEEP?\r", "\r\nSLEEP-\r\n", &device.sleepOn, 0, LOCAL},
        {"AT+PIN-\r", "", &device.pinDisabled, 1, LOCAL}, {"AT+PIN=8642\r", "", &device.pinDisabled, 0, LOCAL},
        {"AT+PIN?\r", "\r\nNULL\r\n", &device.pinDisabled, 1, LOCAL},
        {"AT+BOND?\r", "\r\n0000-00-000000\r\n", &device.bonded, 0, 0},
        {"AT+BOND?\r", "\r\n0012-6F-654321\r\n", &device.bonded, 1, 0},
        {"AT+FIND?\r", "", &device.isInquiryActive, 1, ID_NOTIFY_INQUIRY_CLEAR},
        {"AT+FIND-\r", "", &device.isInquiryActive, 0, 0},
        {"AT+FIND-\r", "\r\nInquiry Cancelled", &device.isInquiryActive, 0, 0},
        {"AT+FIND-\r", "\r\nInquiry Cancelled\r\n", &device.isInquiryActive, 0, 0},
        {"AT+AUTO\r", "", &device.isDataMode, 1, 0},
        {"+++", "", &device.isDataMode, 0, 0},
        // Replies and commands that say nothing known change nothing.
        {"AT+STOP?\r", "\r\nSTOP9\r\n", &uart.stopBits, -1, LOCAL},
        {"AT+BAUD?\r", "\r\nBAUDXY\r\n", &uart.baud, -1, LOCAL}, {"AT+BAUD?\r", "", &device.baudCode, -1, LOCAL},
    };
    inquiry.resultCount = 4;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.command << " " << row.reply);
        *row.field = -1;
        EXPECT_EQ(answer(row.command, "\r\nOK\r\n", row.reply), 1);
        EXPECT_EQ(*row.field, row.value);
        EXPECT_EQ(posted(), notes(row.posted));
    }
    EXPECT_EQ(inquiry.resultCount, 0) << "a new inquiry starts empty";
    // Only the line settings' commands move the port (which ones: see the reset test).
    EXPECT_EQ(settingsApplied.size(), 4u);
    for (const char* text :
         {"Local Device bonded with 0000-00-000000", "Inquiry started...", "Inquiry cancelled.",
          "Device switched from Command to Data Mode",
          "Escape Sequence +++ received for local device. Device switched from Data to Command Mode"})
        EXPECT_TRUE(logged(text)) << text;

    // Role, flow, discoverable and auto-connect answers end a connection.
    for (const char* command : {"AT+ROLEM\r", "AT+FLOW-\r", "AT+DCOV-\r", "AT+ACON-\r"}) {
        device.isConnected = device.isDataMode = device.isHandshakeActive = 1;
        answer(command, "\r\nOK\r\n");
        EXPECT_EQ(device.isConnected + device.isDataMode + device.isHandshakeActive, 0) << command;
        EXPECT_EQ(posted(), (std::vector<UINT>{ID_NOTIFY_STATUS, LOCAL})) << command;
    }
}

// Texts fill their fields and leave another alone: the field after them
// where there is one, the local record's while pairing. "old": no change.
TEST_F(Handling, TextFamiliesFillTheirFieldsAndNoMore)
{
    const std::string z = "\r\n" + std::string(500, 'z') + "\r\n";
    const struct {
        const char* command;
        std::string reply;
        int32_t pairState;
        char* field;
        std::string expected;
        char* untouched;
        UINT posted;  // 0: nothing
    } rows[] = {
        {"AT+VER\r", "\r\nRZ310 F/W V1.0\r\n", 0, device.version, "RZ310 F/W V1.0", device.name,
         ID_NOTIFY_FIRMWARE_VERSION},
        {"AT+VER\r", "", 0, device.version, "old", device.name, 0},
        {"AT+VER\r", z, 0, device.version, std::string(40, 'z'), device.name, ID_NOTIFY_FIRMWARE_VERSION},
        {"AT+NAME=Porch\r", "", 0, device.name, "Porch", device.address, LOCAL},
        {"AT+NAME?\r", z, 0, device.name, std::string(15, 'z'), device.address, LOCAL},
        {"AT+NAME=ABCDEFGHIJKLMNOPQ\r", "", 0, device.name, "ABCDEFGHIJKLMNO", device.address, LOCAL},
        {"AT+ADDR?\r", "", 0, device.address, "old", device.pin, 0},
        {"AT+ADDR?\r", z, 0, device.address, std::string(14, 'z'), device.pin, LOCAL},
        {"AT+PIN?\r", "\r\nNULL\r\n", 0, device.pin, "old", device.version, LOCAL},
        {"AT+PIN?\r", z, 0, device.pin, std::string(7, 'z'), device.version, LOCAL},
        {"AT+PIN=123456789012\r", "", 0, device.pin, "1234567", device.version, LOCAL},
        {"AT+ADDR?\r", z, 2, pairing.device2Address, std::string(14, 'z'), pairing.device1Name, ID_NOTIFY_PAIR_DEVICE},
        {"AT+NAME?\r", z, 2, pairing.device2Name, std::string(15, 'z'), device.name, ID_NOTIFY_PAIR_DEVICE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.command << " " << row.reply.substr(0, 20));
        pairing.pairState = row.pairState;
        strcpy(row.field, "old");
        strcpy(row.untouched, "#");
        EXPECT_EQ(answer(row.command, "\r\nOK\r\n", row.reply.c_str()), 1);
        EXPECT_EQ(std::string(row.field), row.expected);
        EXPECT_STREQ(row.untouched, "#");
        EXPECT_EQ(posted(), notes(row.posted));
    }
    // The address of a connection report, without its quotes, is cut to its field.
    answer("\r\nCONNECT", "\r\nOK\r\n", "\"0012-6F-654321-0012-6F-654321\"");
    EXPECT_STREQ(remoteAddress, "0012-6F-654321-");
}

TEST_F(Handling, ResetPutsFactoryValuesAndDefaultLineSettings)
{
    memset(&device, 0x55, sizeof device);
    strcpy(device.address, "0012-6F-123456");
    strcpy(device.version, "V1");
    EXPECT_EQ(answer("AT+RESET\r", "\r\nOK\r\n"), 1);
    EXPECT_EQ(settingsApplied, (std::vector<LineSetting>{{19200, PARITY_NONE, 1, 1}}));
    const std::vector<int32_t> actual = {
        device.echoOn, device.role, device.responseOn, device.discoverable, device.escapeOn,
        device.sleepOn, device.autoConnect, device.baudCode, device.pinDisabled, device.bonded,
        device.isConnected, device.isDataMode, device.isInquiryActive, device.remoteConfig, device.isHandshakeActive};
    EXPECT_EQ(actual, (std::vector<int32_t>{1, 2, 1, 1, 1, 0, 1, 14, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_STREQ(device.name, "Serial Adapter");
    EXPECT_STREQ(device.pin, "8642");
    EXPECT_STREQ(device.address, "0012-6F-123456") << "kept";
    EXPECT_STREQ(device.version, "V1") << "kept";
    EXPECT_EQ(device.initRetry, 0x55555555) << "kept";
    EXPECT_TRUE(logged("Local Device reset successful"));
    EXPECT_EQ(posted(), (std::vector<UINT>{LOCAL, ID_NOTIFY_STATUS}));

    // A port that does not follow the line settings is reported, setting by setting.
    changeResult = 1;
    for (const char* command : {"AT+STOP2\r", "AT+PAR1\r", "AT+FLOW-\r", "AT+BAUD17\r", "AT+RESET\r"})
        answer(command, "\r\nOK\r\n");
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::wstring>{
                  L"Failed to set stopBits 2", L"Failed to set parity 512", L"Failed to set flow control 0",
                  L"Failed to set baudrate 17",
                  L"Failed to set default uart settings baud 19200, parity NONE, stopBits 1, flowcontrol ENABLED"}));
}

