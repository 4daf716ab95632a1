// What each family of answers does to the records, the port and the windows.
#include "atcommand_fixture.h"

class Handling : public EngineTest {
protected:
    static constexpr UINT LOCAL = ID_NOTIFY_LOCAL_DEVICE;
};

// Families acknowledged with OK alone or with a reply line that is more than
// a value (the end-to-end runs read the rest); -1 is "left alone".
TEST_F(Handling, NumberFamiliesOnReplyAndOnAcknowledgement)
{
    const struct {
        const char* command;
        const char* reply;
        int32_t* field;
        int32_t value;
        std::vector<UINT> posted;
    } rows[] = {
        {"AT+STOP2\r", "", &uart.stopBits, 2, {LOCAL}},
        {"AT+PAR2\r", "", &uart.parity, PARITY_EVEN, {LOCAL}},
        {"AT+PAR?\r", "\r\nPAR1\r\n", &uart.parity, PARITY_ODD, {LOCAL}},
        {"AT+FLOW-\r", "", &uart.flow, 0, {LOCAL}},
        {"AT+BAUD?\r", "\r\nBAUD13\r\n", &device.baudCode, 13, {LOCAL}},
        {"AT+PIN?\r", "\r\nNULL\r\n", &device.pinDisabled, 1, {LOCAL}},
        {"AT+BOND?\r", "\r\n0000-00-000000\r\n", &device.bonded, 0, {}},
        {"AT+BOND?\r", "\r\n0012-6F-654321\r\n", &device.bonded, 1, {}},
        {"AT+FIND?\r", "", &device.isInquiryActive, 1, {ID_NOTIFY_INQUIRY_CLEAR}},
        {"AT+FIND-\r", "\r\nInquiry Cancelled", &device.isInquiryActive, 0, {}},
        {"AT+AUTO\r", "", &device.isDataMode, 1, {}},
        {"+++", "", &device.isDataMode, 0, {}},
        // Replies that say nothing known change nothing.
        {"AT+STOP?\r", "\r\nSTOP9\r\n", &uart.stopBits, -1, {LOCAL}},
        {"AT+BAUD?\r", "\r\nBAUDXY\r\n", &uart.baud, -1, {LOCAL}},
    };
    inquiry.resultCount = 4;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.command << " " << row.reply);
        *row.field = -1;
        EXPECT_EQ(answer(row.command, "\r\nOK\r\n", row.reply), 1);
        EXPECT_EQ(*row.field, row.value);
        EXPECT_EQ(posted(), row.posted);
    }
    EXPECT_EQ(inquiry.resultCount, 0) << "a new inquiry starts empty";
    // Only the line settings' commands move the port (which ones: see the reset test).
    EXPECT_EQ(settingsApplied.size(), 3u);

    // Role, flow, discoverable and auto-connect answers end a connection.
    for (const char* command : {"AT+ROLEM\r", "AT+FLOW-\r", "AT+DCOV-\r", "AT+ACON-\r"}) {
        device.isConnected = device.isDataMode = device.isHandshakeActive = 1;
        answer(command, "\r\nOK\r\n");
        EXPECT_EQ(device.isConnected + device.isDataMode + device.isHandshakeActive, 0) << command;
        EXPECT_EQ(posted(),
                  (std::vector<UINT>{ID_NOTIFY_STATUS, ID_NOTIFY_INQUIRY_END, ID_NOTIFY_REMOTE_DEVICE, LOCAL}));
    }
}

// Texts fill their fields and leave the next alone (the local record's while
// pairing); "old": no change. The randomized check overfills the rest.
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
    } rows[] = {
        {"AT+VER\r", z, 0, device.version, std::string(40, 'z'), device.name},
        {"AT+NAME=ABCDEFGHIJKLMNOPQ\r", "", 0, device.name, "ABCDEFGHIJKLMNO", device.address},
        {"AT+PIN?\r", "\r\nNULL\r\n", 0, device.pin, "old", device.version},
        {"AT+PIN=123456789012\r", "", 0, device.pin, "1234567", device.version},
        {"AT+ADDR?\r", z, 2, pairing.device2Address, std::string(14, 'z'), pairing.device1Name},
        {"AT+NAME?\r", z, 2, pairing.device2Name, std::string(15, 'z'), device.name},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.command << " " << row.reply.substr(0, 20));
        pairing.pairState = row.pairState;
        strcpy(row.field, "old");
        strcpy(row.untouched, "#");
        EXPECT_EQ(answer(row.command, "\r\nOK\r\n", row.reply.c_str()), 1);
        EXPECT_EQ(std::string(row.field), row.expected);
        EXPECT_STREQ(row.untouched, "#");
    }
    // The address of a connection report, without its quotes, is cut to its field.
    answer("\r\nCONNECT", "\r\nOK\r\n", "\"0012-6F-654321-0012-6F-654321\"");
    EXPECT_STREQ(remoteAddress, "0012-6F-654321-");
}

TEST_F(Handling, ResetPutsFactoryValuesAndDefaultLineSettings)
{
    memset(&device, 0x55, sizeof device);
    strcpy(device.address, "0012-6F-123456");
    EXPECT_EQ(answer("AT+RESET\r", "\r\nOK\r\n"), 1);
    EXPECT_EQ(settingsApplied, (std::vector<LineSetting>{{19200, PARITY_NONE, 1, 1}}));
    EXPECT_EQ(device.baudCode, 14);
    EXPECT_STREQ(device.address, "0012-6F-123456") << "kept";
    EXPECT_EQ(posted(), (std::vector<UINT>{LOCAL, ID_NOTIFY_STATUS, ID_NOTIFY_INQUIRY_END, ID_NOTIFY_REMOTE_DEVICE}));

    // A port that does not follow the line settings is reported, setting by setting.
    changeResult = 1;
    for (const char* command : {"AT+STOP2\r", "AT+PAR1\r", "AT+FLOW-\r", "AT+BAUD17\r", "AT+RESET\r"})
        answer(command, "\r\nOK\r\n");
    EXPECT_EQ(boxes.count(), 5u);
}
